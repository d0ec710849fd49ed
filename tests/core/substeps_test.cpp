#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

namespace {

void fill(Grid &g, double value) {
    for (std::uint32_t j = 0; j < g.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < g.NumCols(); ++i) {
            g(i, j) = value;
        }
    }
}

void configure(Solver &s, double vf, double vd, double vg, double sigma, double dt) {
    s.m_vf = vf;
    s.m_vd = vd;
    s.m_vg = vg;
    s.setSigma(sigma);
    s.setTimeStep(dt);
}

// A smooth, non-trivial velocity field on the faces.
void swirl(Solver &s) {
    Grid &u = *s.m_u;
    Grid &v = *s.m_v;
    for (std::uint32_t j = 0; j < u.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < u.NumCols(); ++i) {
            u(i, j) = std::sin(0.4 * i + 0.9 * j);
        }
    }
    for (std::uint32_t j = 0; j < v.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < v.NumCols(); ++i) {
            v(i, j) = std::cos(0.7 * i - 0.3 * j);
        }
    }
}

} // namespace

// --- driving force and attenuation ---------------------------------------

TEST(DrivingForce, ZeroCoefficientStillRefreshesTheBlurredDensity) {
    Solver s(discGrid(16, 8, 8, 4), discGrid(16, 5, 5, 4));
    configure(s, 0.0, 0.0, 0.0, 1.0, 0.001);
    swirl(s);
    s.fillBoundary(Solver::kXFace, *s.m_u);
    s.fillBoundary(Solver::kYFace, *s.m_v);
    const Grid u = *s.m_u;
    const Grid v = *s.m_v;
    s.applyDrivingForce();
    EXPECT_TRUE(equalBits(*s.m_u, u));
    EXPECT_TRUE(equalBits(*s.m_v, v));
    EXPECT_GT((*s.m_blurDensity)(8, 8), 0.1);
    EXPECT_EQ((*s.m_blurDensity)(0, 0) > 0.0, true);
}

TEST(DrivingForce, PushesUpTheTargetGradientWithFaceDensity) {
    Solver s(discGrid(16, 8, 8, 5), discGrid(16, 8, 8, 5));
    configure(s, 2.0, 0.0, 0.0, 1.0, 0.01);
    s.applyDrivingForce();
    const Grid &rho = *s.m_blurDensity;
    for (std::uint32_t i = 1; i <= 17; ++i) {
        for (std::uint32_t j = 1; j <= 16; ++j) {
            EXPECT_EQ((*s.m_u)(i, j),
                      0.0 + 0.01 * 2.0 * (*s.m_driveU)(i, j) * 0.5 * (rho(i, j) + rho(i - 1, j)));
        }
    }
    // Symmetric target: the push at the left of the disc points right.
    EXPECT_GT((*s.m_u)(4, 8), 0.0);
    EXPECT_LT((*s.m_u)(14, 8), 0.0);
}

TEST(Attenuation, UnitFactorStopsEverythingAndZeroLeavesTheInterior) {
    Solver s(uniformGrid(8, 0.2), uniformGrid(8, 0.2));
    configure(s, 0.0, 1000.0, 0.0, 1.0, 0.001); // dt * vd = 1
    swirl(s);
    s.attenuateMomentum();
    EXPECT_EQ(maxAbs(*s.m_u), 0.0);
    EXPECT_EQ(maxAbs(*s.m_v), 0.0);

    s.m_vd = 0.0;
    swirl(s);
    const Grid u = *s.m_u;
    s.attenuateMomentum();
    for (std::uint32_t i = 1; i <= 9; ++i) {
        for (std::uint32_t j = 1; j <= 8; ++j) {
            EXPECT_EQ((*s.m_u)(i, j), u(i, j));
        }
    }
    EXPECT_EQ((*s.m_u)(0, 3), -(*s.m_u)(1, 3)); // fills re-applied
}

TEST(Attenuation, FactorIsNotClamped) {
    Solver s(uniformGrid(4, 0.2), uniformGrid(4, 0.2));
    configure(s, 0.0, 1500.0, 0.0, 1.0, 0.001); // factor -0.5
    (*s.m_u)(2, 2) = 4.0;
    s.attenuateMomentum();
    EXPECT_EQ((*s.m_u)(2, 2), -2.0);
}

// --- advection -------------------------------------------------------------

TEST(AdvectDensity, UniformFlowKeepsUniformDensityAndClearsTheBorder) {
    const std::uint32_t n = 10;
    Solver s(uniformGrid(n, 0.6), uniformGrid(n, 0.6));
    configure(s, 0.0, 0.0, 0.0, 1.0, 0.001);
    fill(*s.m_density, 0.6);
    fill(*s.m_u, 0.3);
    fill(*s.m_v, -0.2);
    s.advectDensity();
    const Grid &rho = *s.m_density;
    for (std::uint32_t i = 0; i < n + 2; ++i) {
        for (std::uint32_t j = 0; j < n + 2; ++j) {
            const bool block = i >= 2 && i <= n - 1 && j >= 2 && j <= n - 1;
            if (block) {
                EXPECT_DOUBLE_EQ(rho(i, j), 0.6);
            } else {
                EXPECT_EQ(rho(i, j), 0.0);
            }
        }
    }
}

TEST(AdvectDensity, DivergentFlowChangesUniformDensityByTheUpwindPart) {
    const std::uint32_t n = 8;
    Solver s(uniformGrid(n, 0.5), uniformGrid(n, 0.5));
    configure(s, 0.0, 0.0, 0.0, 1.0, 0.01);
    fill(*s.m_density, 0.5);
    Grid &u = *s.m_u;
    for (std::uint32_t j = 0; j < u.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < u.NumCols(); ++i) {
            u(i, j) = 0.1 * i; // positive, growing: divergence 0.1 per cell
        }
    }
    s.advectDensity();
    const double lambda = s.m_dtOverH;
    EXPECT_NEAR((*s.m_density)(4, 4), 0.5 - lambda * 0.5 * (u(5, 4) - u(4, 4)), 1e-15);
}

TEST(AdvectDensity, ConvexRunAtRestIsSmoothedAndSpikeIsKept) {
    const std::uint32_t n = 9;
    Solver s(uniformGrid(n, 0.1), uniformGrid(n, 0.1));
    s.m_dtOverH = 0.5;
    const double row[] = {0, 1, 3, 6, 10};
    Grid &rho = *s.m_density;
    for (std::uint32_t i = 0; i < n + 2; ++i) {
        for (std::uint32_t j = 0; j < n + 2; ++j) {
            rho(i, j) = (i >= 3 && i <= 7) ? row[i - 3] : 0.0;
        }
    }
    s.advectDensity();
    EXPECT_EQ((*s.m_density)(5, 5), 2.5);

    Grid &spiky = *s.m_density;
    spiky.SetZero();
    spiky(5, 5) = 0.9;
    s.advectDensity();
    EXPECT_EQ((*s.m_density)(5, 5), 0.9);
}

TEST(AdvectVelocity, UpdatesOnlyTheInnerFacesAndKeepsTheFrameZero) {
    const std::uint32_t n = 9;
    Solver s(uniformGrid(n, 0.1), uniformGrid(n, 0.1));
    configure(s, 0.0, 0.0, 0.0, 1.0, 0.001);
    swirl(s);
    s.advectVelocity();
    const Grid &u = *s.m_u;
    const Grid &v = *s.m_v;
    for (std::uint32_t i = 0; i < u.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < u.NumRows(); ++j) {
            if (!(i >= 2 && i <= n && j >= 2 && j <= n - 1)) {
                EXPECT_EQ(u(i, j), 0.0) << i << "," << j;
            }
        }
    }
    for (std::uint32_t i = 0; i < v.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < v.NumRows(); ++j) {
            if (!(i >= 2 && i <= n - 1 && j >= 2 && j <= n)) {
                EXPECT_EQ(v(i, j), 0.0) << i << "," << j;
            }
        }
    }
    EXPECT_NE(u(5, 5), 0.0);
    EXPECT_NE(v(5, 5), 0.0);
}

TEST(Degenerate, TinyGridsEmptyTheUpdateBlocks) {
    for (std::uint32_t n : {1u, 2u}) {
        SCOPED_TRACE(n);
        Solver s(uniformGrid(n, 0.7), uniformGrid(n, 0.7));
        configure(s, 1.0, 0.0, 0.5, 1.0, 0.001);
        swirl(s);
        s.advectVelocity();
        EXPECT_EQ(maxAbs(*s.m_u), 0.0);
        EXPECT_EQ(maxAbs(*s.m_v), 0.0);
        s.advectDensity();
        EXPECT_EQ(maxAbs(*s.m_density), 0.0);
        fill(*s.m_density, 0.7);
        const Grid before = *s.m_density;
        s.gatherSmoke();
        EXPECT_TRUE(equalBits(*s.m_density, before));
    }
}

TEST(Degenerate, FullStepsOnOneTwoAndThreeCells) {
    for (std::uint32_t n : {1u, 2u, 3u}) {
        SCOPED_TRACE(n);
        Solver s(discGrid(n, n / 2.0, n / 2.0, n / 2.0), uniformGrid(n, 0.3));
        configure(s, 1.0, 3.0, 0.0001, 1.0, 0.001);
        for (int k = 0; k < 20; ++k) {
            s.step();
        }
        for (const Grid *g : {s.m_density.get(), s.m_u.get(), s.m_v.get(), s.m_pressure.get(),
                              s.m_uCentre.get(), s.m_vCentre.get()}) {
            EXPECT_TRUE(allFinite(*g));
        }
    }
}

TEST(Degenerate, ThreeCellsChangeOnlyTheCentreWhenGathering) {
    Solver s(uniformGrid(3, 0.3), uniformGrid(3, 0.3));
    configure(s, 0.0, 0.0, 0.5, 1.0, 0.001);
    fill(*s.m_density, 0.8);
    s.m_densityTmp->SetZero();
    const Grid before = *s.m_density;
    s.gatherSmoke();
    for (std::uint32_t i = 0; i < 5; ++i) {
        for (std::uint32_t j = 0; j < 5; ++j) {
            if (i == 2 && j == 2) {
                EXPECT_NE((*s.m_density)(i, j), before(i, j));
            } else {
                EXPECT_EQ((*s.m_density)(i, j), before(i, j));
            }
        }
    }
}

// --- projection ------------------------------------------------------------

TEST(Project, DivergenceFreeFieldIsLeftAlone) {
    const std::uint32_t n = 8;
    Solver s(uniformGrid(n, 0.1), uniformGrid(n, 0.1));
    fill(*s.m_u, 0.75); // equal on every face of a row: no divergence
    fill(*s.m_v, 0.0);
    s.fillBoundary(Solver::kXFace, *s.m_u);
    const Grid u = *s.m_u;
    s.project();
    EXPECT_EQ(maxAbs(*s.m_pressure), 0.0);
    EXPECT_TRUE(equalBits(*s.m_u, u));
    EXPECT_EQ(maxAbs(*s.m_v), 0.0);
}

TEST(Project, OneCellChangesNoInteriorFace) {
    Solver s(uniformGrid(1, 0.1), uniformGrid(1, 0.1));
    (*s.m_u)(1, 1) = 1.0;
    (*s.m_u)(2, 1) = -2.0;
    (*s.m_v)(1, 1) = 0.5;
    (*s.m_v)(1, 2) = 3.0;
    s.project();
    EXPECT_EQ((*s.m_u)(1, 1), 1.0);
    EXPECT_EQ((*s.m_u)(2, 1), -2.0);
    EXPECT_EQ((*s.m_v)(1, 1), 0.5);
    EXPECT_EQ((*s.m_v)(1, 2), 3.0);
}

// The pressure after exactly k literal Gauss-Seidel sweeps from zero.
static Grid pressureAfter(int sweeps, const Grid &u, const Grid &v, double h) {
    const std::uint32_t n = u.NumRows() - 2;
    Grid p(n + 2, n + 2);
    for (int k = 0; k < sweeps; ++k) {
        for (std::uint32_t j = 1; j <= n; ++j) { // rows outer: same result
            for (std::uint32_t i = 1; i <= n; ++i) {
                p(i, j) = 0.25 * (p(i, j + 1) + p(i + 1, j) + p(i - 1, j) + p(i, j - 1) +
                                  h * (v(i, j) + u(i, j) - u(i + 1, j) - v(i, j + 1)));
            }
        }
    }
    return p;
}

TEST(Project, RunsExactlyTwentySweepsAndRemovesMostDivergence) {
    const std::uint32_t n = 12;
    Solver s(uniformGrid(n, 0.1), uniformGrid(n, 0.1));
    swirl(s);
    const Grid u0 = *s.m_u;
    const Grid v0 = *s.m_v;
    s.project();

    const Grid p19 = pressureAfter(19, u0, v0, s.m_h);
    const Grid p20 = pressureAfter(20, u0, v0, s.m_h);
    const Grid p21 = pressureAfter(21, u0, v0, s.m_h);
    const Grid &p = *s.m_pressure;
    double diff19 = 0.0;
    double diff21 = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            EXPECT_EQ(p(i, j), p20(i, j));
            diff19 = std::max(diff19, std::fabs(p(i, j) - p19(i, j)));
            diff21 = std::max(diff21, std::fabs(p(i, j) - p21(i, j)));
        }
    }
    EXPECT_GT(diff19, 1e-6);
    EXPECT_GT(diff21, 1e-6);

    // The pressure frame copies the edge cells after the sweeps.
    EXPECT_EQ(p(0, 5), p(1, 5));
    EXPECT_EQ(p(n + 1, 5), p(n, 5));

    // Wall faces keep their velocities.
    for (std::uint32_t j = 1; j <= n; ++j) {
        EXPECT_EQ((*s.m_u)(1, j), u0(1, j));
        EXPECT_EQ((*s.m_u)(n + 1, j), u0(n + 1, j));
    }

    auto divergence = [n](const Grid &u, const Grid &v) {
        double total = 0.0;
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                total += std::fabs(u(i + 1, j) - u(i, j) + v(i, j + 1) - v(i, j));
            }
        }
        return total;
    };
    EXPECT_LT(divergence(*s.m_u, *s.m_v), 0.5 * divergence(u0, v0));
}

// --- smoke gathering -------------------------------------------------------

TEST(GatherSmoke, DensityAtTheTargetIsUnchanged) {
    const Grid shape = discGrid(12, 6, 6, 4);
    Solver s(shape, shape);
    configure(s, 0.0, 0.0, 0.3, 1.0, 0.001);
    s.m_densityTmp->SetZero();
    const Grid before = *s.m_density;
    s.gatherSmoke();
    EXPECT_TRUE(equalBits(*s.m_density, before));
}

TEST(GatherSmoke, ZeroCoefficientStillRewritesTheScratch) {
    Solver s(discGrid(12, 6, 6, 4), discGrid(12, 4, 7, 3));
    configure(s, 0.0, 0.0, 0.0, 1.0, 0.001);
    const Grid before = *s.m_density;
    s.gatherSmoke();
    EXPECT_TRUE(equalBits(*s.m_density, before));
    EXPECT_GT(maxAbs(*s.m_densityDiff), 0.0);
    EXPECT_GT(maxAbs(*s.m_uTmp), 0.0);
    EXPECT_GT(maxAbs(*s.m_densityTmp), 0.0);
}

TEST(GatherSmoke, UniformSurplusGainsEverywhereInTheBlock) {
    const std::uint32_t n = 8;
    for (double target : {0.5, 1.1}) {
        SCOPED_TRACE(target);
        Solver s(uniformGrid(n, 0.1), uniformGrid(n, 0.1));
        s.setTimeStep(0.001);
        s.m_vg = 0.7;
        fill(*s.m_density, 0.8);
        fill(*s.m_target, target);
        fill(*s.m_blurTarget, 0.4);
        s.m_densityTmp->SetZero();
        s.gatherSmoke();
        const double expected = 0.8 + 0.7 * (0.4 * 0.8 * (0.8 - target));
        for (std::uint32_t i = 2; i <= n - 1; ++i) {
            for (std::uint32_t j = 2; j <= n - 1; ++j) {
                EXPECT_EQ((*s.m_density)(i, j), expected);
            }
        }
        EXPECT_EQ((*s.m_density)(1, 4), 0.8); // outside the block
        if (target == 0.5) {
            EXPECT_NEAR(expected, 0.8672, 1e-12);
        } else {
            EXPECT_LT(expected, 0.8);
        }
    }
}
