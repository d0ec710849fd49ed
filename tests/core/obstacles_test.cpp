// Obstacles: the checks before a run, the masking of sources and targets.

#include "balancingblocks.h"
#include "obstaclemap.h"
#include "obstacles.h"
#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>

using velloran::checkObstacles;
using velloran::ObstacleProblem;

namespace {

constexpr std::uint32_t kN = 16;

// A vertical wall in column `column`, with an optional gap of rows [gapLow, gapHigh).
Grid wallGrid(std::uint32_t column, std::uint32_t gapLow = 0, std::uint32_t gapHigh = 0) {
    return makeGrid(kN, kN, [=](std::uint32_t i, std::uint32_t j) {
        return i == column && !(j >= gapLow && j < gapHigh) ? 1.0 : 0.0;
    });
}

Grid sideGrid(bool left) {
    return makeGrid(kN, kN, [=](std::uint32_t i, std::uint32_t) {
        return (left ? i < 4 : i >= 12) ? 1.0 : 0.0;
    });
}

double interiorTotal(const Grid &framed) {
    double sum = 0.0;
    for (std::uint32_t i = 1; i + 1 < framed.NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < framed.NumRows(); ++j) {
            sum += framed(i, j);
        }
    }
    return sum;
}

} // namespace

TEST(Obstacles, ChecksRefuseTargetsTheSmokeCannotForm) {
    const Grid left = sideGrid(true);
    const Grid right = sideGrid(false);
    const Grid wall = wallGrid(8);
    const Grid both = uniformGrid(kN, 1.0);
    EXPECT_EQ(checkObstacles({{&left, &right}}, wallGrid(8, 5, 9)), ObstacleProblem::None);
    EXPECT_EQ(checkObstacles({{&left, &right}}, wall), ObstacleProblem::UnreachableTarget);
    EXPECT_EQ(checkObstacles({{&left, &left}, {&both, &left}}, wall),
              ObstacleProblem::StrandedSmoke);
    // The target wholly under the obstacles; smoke under them is moved out.
    EXPECT_EQ(checkObstacles({{&right, &left}}, left), ObstacleProblem::TargetInsideObstacles);
    EXPECT_EQ(checkObstacles({{&left, &right}}, left), ObstacleProblem::None);
    EXPECT_EQ(checkObstacles({{&left, &left}}, uniformGrid(kN, 1.0)),
              ObstacleProblem::TargetInsideObstacles);
    EXPECT_EQ(std::string(velloran::obstacleMessage(ObstacleProblem::UnreachableTarget)),
              "the target has smoke in a region the source cannot reach");
}

TEST(Obstacles, SourceMovedOutTargetClearedMassesEqual) {
    // Source over the whole left half, target everywhere; a solid block in
    // the lower left covers part of both.
    const Grid source =
        makeGrid(kN, kN, [](std::uint32_t i, std::uint32_t) { return i < 8 ? 1.0 : 0.0; });
    const Grid target = uniformGrid(kN, 0.25);
    const Grid solid = makeGrid(
        kN, kN, [](std::uint32_t i, std::uint32_t j) { return i < 4 && j < 4 ? 0.8 : 0.2; });
    Solver solver(source, target);
    EXPECT_EQ(solver.obstacles(), nullptr);
    solver.setScheme(velloran::Scheme::Sound);
    const std::size_t plainFields = solver.fields().size();
    solver.setObstacles(solid);
    ASSERT_NE(solver.obstacles(), nullptr);
    EXPECT_EQ(solver.fields().size(), plainFields + 1);
    EXPECT_EQ(&solver.field("solid"), solver.obstacles());
    const Grid &mask = *solver.obstacles();
    double moved = 0.0;
    for (std::uint32_t i = 1; i <= kN; ++i) {
        for (std::uint32_t j = 1; j <= kN; ++j) {
            EXPECT_EQ(mask(i, j), i <= 4 && j <= 4 ? 1.0 : 0.0);
            if (mask(i, j) != 0.0) {
                EXPECT_EQ((*solver.m_density)(i, j), 0.0);
                EXPECT_EQ((*solver.m_target)(i, j), 0.0);
            } else if ((i == 5 && j <= 4) || (j == 5 && i <= 4)) {
                moved += (*solver.m_density)(i, j);
            }
        }
    }
    // Target 0.25 * (256 - 16) = 60 against source 128: the source is scaled
    // to 60, and the 16 cells of smoke under the block went to its edge.
    EXPECT_NEAR(interiorTotal(*solver.m_density), 60.0, 1e-12);
    EXPECT_NEAR(interiorTotal(*solver.m_target), 60.0, 1e-12);
    EXPECT_NEAR(moved, (4 + 4 + 16.0) * 60.0 / 128.0, 1e-12);

    // A keyframe's target is cleared under the block too.
    solver.setSigma(1.0);
    solver.setTarget(uniformGrid(kN, 1.0));
    EXPECT_EQ((*solver.m_target)(2, 2), 0.0);
    EXPECT_NEAR(interiorTotal(*solver.m_target), 60.0, 1e-12);

    // Restoring the mask replaces the obstacles and leaves the smoke alone.
    Grid open = mask;
    open.SetZero();
    const Grid density = *solver.m_density;
    solver.restoreField("solid", open);
    EXPECT_EQ(maxAbs(*solver.obstacles()), 0.0);
    EXPECT_TRUE(equalBits(*solver.m_density, density));
}

// Obstacles belong to the sound scheme only. No solver here has stepped, so
// no pool thread runs yet and the child may simply be forked (which also
// works where the tests run under an emulator).
TEST(ObstaclesDeathTest, LiteralRunsRefuseThem) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const Grid smoke = uniformGrid(kN, 1.0);
    Solver literal(smoke, smoke);
    EXPECT_DEATH(literal.setObstacles(wallGrid(8)), "Sound");
    Solver sound(smoke, smoke);
    sound.setScheme(velloran::Scheme::Sound);
    sound.setObstacles(wallGrid(8, 2, 6));
    EXPECT_DEATH(sound.setScheme(velloran::Scheme::Literal), "Sound");
}

namespace {

// A sound run at the scheme's defaults with obstacles.
std::unique_ptr<Solver> obstacleRun(const std::vector<SmokeInput> &smoke, const Grid &solid,
                                    double vf = 2.0, double vd = 30.0, double vg = 0.15) {
    auto s = std::make_unique<Solver>(smoke);
    s->setScheme(velloran::Scheme::Sound);
    s->setObstacles(solid);
    s->m_vf = vf;
    s->m_vd = vd;
    s->m_vg = vg;
    s->setSigma(1.0);
    s->setTimeStep(0.001);
    return s;
}

// Sum of a framed grid's interior cells for which `where` holds.
template <class Where> long double massWhere(const Grid &rho, Where where) {
    long double sum = 0.0L;
    for (std::uint32_t i = 1; i + 1 < rho.NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < rho.NumRows(); ++j) {
            if (where(i, j)) {
                sum += rho(i, j);
            }
        }
    }
    return sum;
}

// Over the interior cells, the largest |divergence| h of the open ones and
// the largest |speed| on the faces of the solid ones.
struct FlowAtObstacles {
    double divergence = 0.0;
    double closedFaceSpeed = 0.0;
};
FlowAtObstacles flowAtObstacles(const Solver &s) {
    const Grid &u = *s.m_u;
    const Grid &v = *s.m_v;
    const Grid &solid = *s.obstacles();
    FlowAtObstacles flow;
    for (std::uint32_t i = 1; i + 1 < solid.NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < solid.NumRows(); ++j) {
            if (solid(i, j) == 0.0) {
                flow.divergence = std::max(
                    flow.divergence, std::fabs(u(i + 1, j) - u(i, j) + v(i, j + 1) - v(i, j)));
                continue;
            }
            for (double speed : {u(i, j), u(i + 1, j), v(i, j), v(i, j + 1)}) {
                flow.closedFaceSpeed = std::max(flow.closedFaceSpeed, std::fabs(speed));
            }
        }
    }
    return flow;
}

} // namespace

// A box split by a one-cell wall, and one split by a one-cell diagonal (open
// cells on either side touch only at corners): no smoke crosses in 1000
// steps, each side keeps its own mass to rounding, no face of a solid cell
// carries flow, and the flow stays divergence-free on the open cells.
TEST(Obstacles, ThinWallsDoNotLeak) {
    constexpr std::uint32_t n = 32;
    const Grid straight =
        makeGrid(n, n, [](std::uint32_t i, std::uint32_t) { return i == 15 ? 1.0 : 0.0; });
    const Grid diagonal =
        makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) { return i == j ? 1.0 : 0.0; });
    struct Case {
        const Grid *solid;
        std::function<bool(std::uint32_t, std::uint32_t)> near; // framed cells on the smoke's side
    };
    const Case cases[] = {{&straight, [](std::uint32_t i, std::uint32_t) { return i <= 15; }},
                          {&diagonal, [](std::uint32_t i, std::uint32_t j) { return i > j; }}};
    for (const Case &c : cases) {
        const auto near = c.near;
        // Field 0 on the near side only; field 1 on both sides, with its
        // targets apart from its sources on each side.
        const Grid nearSource = makeGrid(n, n, [&](std::uint32_t i, std::uint32_t j) {
            return near(i + 1, j + 1) && (*c.solid)(i, j) == 0.0 && i > 20 && j < 8 ? 1.0 : 0.0;
        });
        const Grid nearTarget = makeGrid(n, n, [&](std::uint32_t i, std::uint32_t j) {
            return near(i + 1, j + 1) && (*c.solid)(i, j) == 0.0 && i < 16 && j < 6 ? 1.0 : 0.0;
        });
        const Grid both = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
            const auto disc = [&](double x, double y) {
                return (i + 0.5 - x) * (i + 0.5 - x) + (j + 0.5 - y) * (j + 0.5 - y) < 25.0;
            };
            return disc(8, 24) || disc(24, 8) ? 1.0 : 0.0;
        });
        // A band along the other diagonal, across both sides.
        const Grid bothTarget = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
            return i + j + 2 >= n && i + j <= n ? 1.0 : 0.0;
        });
        auto s = obstacleRun({{&nearSource, &nearTarget}, {&both, &bothTarget}}, *c.solid);
        const Grid &rho0 = s->smokeDensity(0);
        const Grid &rho1 = s->smokeDensity(1);
        const auto far = [&](std::uint32_t i, std::uint32_t j) { return !near(i, j); };
        const long double near1 = massWhere(rho1, near);
        const long double far1 = massWhere(rho1, far);
        ASSERT_GT(near1, 1.0L);
        ASSERT_GT(far1, 1.0L);
        for (int step = 0; step < 1000; ++step) {
            s->step();
        }
        ASSERT_FALSE(s->hitSubcycleCap());
        EXPECT_GT(maxAbs(*s->m_u), 0.01);
        EXPECT_EQ(massWhere(rho0, far), 0.0L);
        EXPECT_NEAR(static_cast<double>(massWhere(rho1, near) / near1), 1.0, 1e-12);
        EXPECT_NEAR(static_cast<double>(massWhere(rho1, far) / far1), 1.0, 1e-12);
        EXPECT_EQ(flowAtObstacles(*s).closedFaceSpeed, 0.0);
        EXPECT_LT(flowAtObstacles(*s).divergence, 1e-12 * maxAbs(*s->m_u));
    }
}

// The projection solves the Neumann problem on the open cells: a random
// flow among scattered obstacles keeps no divergence beyond rounding; a
// divergence-free flow round an obstacle keeps its speed along the walls
// (free slip: the walls close only the faces across them).
TEST(Obstacles, ProjectionOnOpenCellsAndFreeSlip) {
    constexpr std::uint32_t n = 40;
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const Grid scattered =
        makeGrid(n, n, [&](std::uint32_t, std::uint32_t) { return unit(rng) < 0.3 ? 1.0 : 0.0; });
    const Grid block = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
        return i >= 14 && i < 26 && j >= 14 && j < 26 ? 1.0 : 0.0;
    });
    const Grid smoke = uniformGrid(n, 1.0);
    {
        auto s = obstacleRun({{&smoke, &smoke}}, scattered);
        for (Grid *faces : {s->m_u.get(), s->m_v.get()}) {
            for (std::uint32_t i = 0; i < faces->NumCols(); ++i) {
                for (std::uint32_t j = 0; j < faces->NumRows(); ++j) {
                    (*faces)(i, j) = unit(rng) - 0.5;
                }
            }
        }
        s->closeWalls();
        const double before = flowAtObstacles(*s).divergence;
        s->projectNeumann();
        EXPECT_GT(before, 0.1);
        EXPECT_LT(flowAtObstacles(*s).divergence, 1e-13 * before);
        EXPECT_EQ(flowAtObstacles(*s).closedFaceSpeed, 0.0);
    }
    // A stream function 0 on the domain's walls and 1 on the block's
    // corners: a flow circling the block with nothing across any wall.
    auto s = obstacleRun({{&smoke, &smoke}}, block, 0.0, 0.0, 0.0);
    const auto psi = [](std::uint32_t a, std::uint32_t b) {
        const std::uint32_t edge = std::min(std::min(a, b), std::min(n - a, n - b));
        return std::min(1.0, edge / 14.0);
    };
    Grid &u = *s->m_u;
    Grid &v = *s->m_v;
    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = psi(i - 1, j) - psi(i - 1, j - 1);
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
            v(i, j) = psi(i - 1, j - 1) - psi(i, j - 1);
        }
    }
    const Grid before = u;
    s->projectNeumann();
    EXPECT_LT(maxAbs(before) - maxAbs(u), 1e-12);
    // The faces along the block's lower side, one row below it.
    const double along = u(20, 14);
    EXPECT_NEAR(along, before(20, 14), 1e-12);
    EXPECT_GT(std::fabs(along), 0.5 / 14.0);
    for (int step = 0; step < 50; ++step) {
        s->step();
    }
    EXPECT_GT(std::fabs(u(20, 14)), 0.5 * std::fabs(along));
}

// A symmetric obstacle between mirrored inputs: the density stays mirrored.
TEST(Obstacles, MirrorSymmetricObstacleKeepsTheRunMirrored) {
    constexpr std::uint32_t n = 40;
    const Grid bar = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
        return j == 20 && i >= 8 && i < 32 ? 1.0 : 0.0;
    });
    const Grid source = discGrid(n, 20, 10, 6);
    const Grid target = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
        return (i < 14 || i >= 26) && j > 24 && j < 34 ? 1.0 : 0.0;
    });
    auto s = obstacleRun({{&source, &target}}, bar);
    for (int step = 0; step < 300; ++step) {
        s->step();
    }
    const Grid &rho = *s->m_density;
    const double scale = maxAbs(rho);
    EXPECT_GT(massWhere(rho, [](std::uint32_t, std::uint32_t j) { return j > 22; }), 0.1L);
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            ASSERT_NEAR(rho(i, j), rho(n + 1 - i, j), 1e-11 * scale) << i << ", " << j;
        }
    }
}

// The balancing potential on 4 x 4 blocks split by a wall one cell thick that
// runs through the middle of a line of blocks, with a gap one cell high: phi
// from the blocks' pieces, interpolated, against phi solved on the cells
// themselves. Blocks that ignored the wall would blend the two sides (phi
// jumps across it, as the way round is long); pieces that did not join
// through the narrow gap would part the domain and take out each side's mean.
TEST(Obstacles, BalancingBlocksFollowTheCellsAroundAWall) {
    const std::uint32_t n = 256;
    const Grid solid = makeGrid(
        n, n, [](std::uint32_t i, std::uint32_t j) { return i == 129 && j != 41 ? 1.0 : 0.0; });
    const velloran::ObstacleMap obstacles(velloran::Lattice(n), solid);
    ASSERT_EQ(obstacles.m_regions, 1);
    const velloran::BalancingBlocks blocks(obstacles);
    ASSERT_EQ(blocks.m_block, 4U);
    // Smoke in excess high on the left, short as high on the right.
    std::vector<double> misfit(static_cast<std::size_t>(n) * n, 0.0);
    std::vector<double> pieces(static_cast<std::size_t>(blocks.m_firstNode.back()), 0.0);
    for (std::uint32_t j = 200; j < 220; ++j) {
        for (std::uint32_t i = 20; i < 40; ++i) {
            for (const auto &[cell, value] : {std::pair{i + j * n, 1.0}, {i + 196 + j * n, -1.0}}) {
                misfit[cell] = value;
                pieces[static_cast<std::size_t>(blocks.m_nodeOf[cell])] += value;
            }
        }
    }
    velloran::ObstaclePoisson(obstacles).solve(misfit.data(), misfit.data());
    blocks.m_poisson->solve(pieces.data(), pieces.data());
    std::vector<double> coarse(misfit.size(), 0.0);
    double fineMean = 0.0;
    double coarseMean = 0.0;
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::size_t cell = i + static_cast<std::size_t>(j) * n;
            coarse[cell] = blocks.phiAt(pieces.data(), cell, velloran::balancingSpot(i + 1, 4, 64),
                                        velloran::balancingSpot(j + 1, 4, 64));
            fineMean += misfit[cell];
            coarseMean += coarse[cell];
        }
    }
    fineMean /= static_cast<double>(n * n - n + 1);
    coarseMean /= static_cast<double>(n * n - n + 1);
    const auto [low, high] = std::minmax_element(misfit.begin(), misfit.end());
    const double range = *high - *low;
    double worst = 0.0;
    for (std::size_t cell = 0; cell < misfit.size(); ++cell) {
        if (blocks.m_nodeOf[cell] >= 0) {
            worst =
                std::max(worst, std::abs((coarse[cell] - coarseMean) - (misfit[cell] - fineMean)));
        }
    }
    const std::size_t high210 = static_cast<std::size_t>(210) * n;
    const double fineJump = misfit[high210 + 130] - misfit[high210 + 128];
    const double coarseJump = coarse[high210 + 130] - coarse[high210 + 128];
    // The blocks miss the narrowing's own resistance within the block round
    // the gap (measured: 18 % of the range at worst, 70 % of the jump).
    EXPECT_LT(worst, 0.25 * range);
    EXPECT_GT(coarseJump, 0.6 * fineJump);
    EXPECT_LT(coarseJump, 1.2 * fineJump);
}
