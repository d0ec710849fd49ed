// Obstacles: the checks before a run, the masking of sources and targets.

#include "obstacles.h"
#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

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
    const std::size_t plainFields = solver.fields().size();
    solver.setScheme(velloran::Scheme::Sound);
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
}
