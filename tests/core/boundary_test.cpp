#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

namespace {

struct BoundaryFixture : ::testing::Test {
    BoundaryFixture()
        : solver(Grid(4, 4), Grid(4, 4)) {}
    Solver solver;
};

// Interior entries get distinct values; the frame starts with garbage that
// the fill must overwrite.
Grid patterned(std::uint32_t rows, std::uint32_t cols) {
    return makeGrid(rows, cols, [rows, cols](std::uint32_t i, std::uint32_t j) {
        const bool frame = i == 0 || j == 0 || i == cols - 1 || j == rows - 1;
        return frame ? 999.0 : 1.0 + i + 10.0 * j;
    });
}

} // namespace

TEST_F(BoundaryFixture, ScalarCopiesEdgesAndCornersTakeTheDiagonal) {
    Grid g = patterned(6, 6);
    solver.fillBoundary(Solver::kScalar, g);
    for (std::uint32_t k = 1; k <= 4; ++k) {
        EXPECT_EQ(g(k, 0), g(k, 1));
        EXPECT_EQ(g(k, 5), g(k, 4));
        EXPECT_EQ(g(0, k), g(1, k));
        EXPECT_EQ(g(5, k), g(4, k));
    }
    EXPECT_EQ(g(0, 0), g(1, 1));
    EXPECT_EQ(g(5, 0), g(4, 1));
    EXPECT_EQ(g(0, 5), g(1, 4));
    EXPECT_EQ(g(5, 5), g(4, 4));
}

TEST_F(BoundaryFixture, UniformScalarIsUnchanged) {
    Grid g = uniformGrid(6, 0.37);
    const Grid before = g;
    solver.fillBoundary(Solver::kScalar, g);
    EXPECT_TRUE(equalBits(g, before));
}

TEST_F(BoundaryFixture, XFaceFlipsLeftRightCopiesLowerUpperZeroCorners) {
    // N = 4: x-face grid of 6 rows, 7 columns; walls in columns 1 and 5.
    Grid g = patterned(6, 7);
    solver.fillBoundary(Solver::kXFace, g);
    for (std::uint32_t j = 1; j <= 4; ++j) {
        EXPECT_EQ(g(0, j), -g(1, j));
        EXPECT_EQ(g(6, j), -g(5, j));
    }
    // Lower and upper edges over columns 1..N+1, the wall columns included.
    for (std::uint32_t i = 1; i <= 5; ++i) {
        EXPECT_EQ(g(i, 0), g(i, 1));
        EXPECT_EQ(g(i, 5), g(i, 4));
    }
    EXPECT_EQ(g(0, 0), 0.0);
    EXPECT_EQ(g(6, 0), 0.0);
    EXPECT_EQ(g(0, 5), 0.0);
    EXPECT_EQ(g(6, 5), 0.0);
}

TEST_F(BoundaryFixture, XFaceWithZeroWallsGetsZeroOutside) {
    Grid g = patterned(6, 7);
    for (std::uint32_t j = 0; j < 6; ++j) {
        g(1, j) = 0.0;
        g(5, j) = 0.0;
    }
    solver.fillBoundary(Solver::kXFace, g);
    for (std::uint32_t j = 0; j < 6; ++j) {
        EXPECT_EQ(g(0, j), 0.0);
        EXPECT_EQ(g(6, j), 0.0);
    }
}

TEST_F(BoundaryFixture, YFaceFlipsLowerUpperCopiesLeftRightZeroCorners) {
    Grid g = patterned(7, 6);
    solver.fillBoundary(Solver::kYFace, g);
    for (std::uint32_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(g(i, 0), -g(i, 1));
        EXPECT_EQ(g(i, 6), -g(i, 5));
    }
    for (std::uint32_t j = 1; j <= 5; ++j) {
        EXPECT_EQ(g(0, j), g(1, j));
        EXPECT_EQ(g(5, j), g(4, j));
    }
    EXPECT_EQ(g(0, 0), 0.0);
    EXPECT_EQ(g(5, 0), 0.0);
    EXPECT_EQ(g(0, 6), 0.0);
    EXPECT_EQ(g(5, 6), 0.0);
}

TEST_F(BoundaryFixture, CentredVelocityAveragesFacesAndFillsFrames) {
    Grid &u = *solver.m_u;
    Grid &v = *solver.m_v;
    for (std::uint32_t i = 1; i <= 5; ++i) {
        for (std::uint32_t j = 1; j <= 4; ++j) {
            u(i, j) = i * 1.0 + 0.25 * j;
        }
    }
    for (std::uint32_t i = 1; i <= 4; ++i) {
        for (std::uint32_t j = 1; j <= 5; ++j) {
            v(i, j) = -2.0 * j + 0.5 * i;
        }
    }
    solver.centreVelocity();
    const Grid &uc = *solver.m_uCentre;
    const Grid &vc = *solver.m_vCentre;
    for (std::uint32_t i = 1; i <= 4; ++i) {
        for (std::uint32_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(uc(i, j), 0.5 * (u(i, j) + u(i + 1, j)));
            EXPECT_EQ(vc(i, j), 0.5 * (v(i, j) + v(i, j + 1)));
        }
    }
    // Centred grids are cell-shaped but filled as face components.
    EXPECT_EQ(uc(0, 2), -uc(1, 2));
    EXPECT_EQ(uc(2, 0), uc(2, 1));
    EXPECT_EQ(vc(2, 0), -vc(2, 1));
    EXPECT_EQ(vc(0, 2), vc(1, 2));
    EXPECT_EQ(uc(0, 0), 0.0);
    EXPECT_EQ(vc(5, 5), 0.0);
}
