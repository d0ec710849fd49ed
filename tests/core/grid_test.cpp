#include "grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(Grid, ShapeAndStorageOrder) {
    Grid grid(3, 5);
    EXPECT_EQ(grid.NumRows(), 3u);
    EXPECT_EQ(grid.NumCols(), 5u);
    for (std::uint32_t j = 0; j < 3; ++j) {
        for (std::uint32_t i = 0; i < 5; ++i) {
            EXPECT_EQ(grid(i, j), 0.0);
        }
    }
    grid(4, 2) = 7.0; // last element: column 4, row 2
    grid(1, 0) = 2.0;
    grid(0, 1) = 3.0;
    EXPECT_EQ(grid.data()[14], 7.0);
    EXPECT_EQ(grid.data()[1], 2.0); // columns run fastest
    EXPECT_EQ(grid.data()[5], 3.0);
}

TEST(Grid, EmptyGridsAndMaxAbs) {
    EXPECT_EQ(maxAbs(Grid(0, 0)), 0.0);
    EXPECT_EQ(maxAbs(Grid(0, 7)), 0.0);
    EXPECT_EQ(maxAbs(Grid(7, 0)), 0.0);

    Grid grid(1, 3);
    grid(0, 0) = -3.5;
    grid(1, 0) = 2.0;
    grid(2, 0) = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(maxAbs(grid), 3.5);
    grid(0, 0) = std::numeric_limits<double>::quiet_NaN();
    grid(2, 0) = -2.5;
    EXPECT_EQ(maxAbs(grid), 2.5); // NaN first never poisons the maximum
}

TEST(Grid, AssignmentAdoptsShapeBothWays) {
    Grid big(66, 66);
    big(65, 0) = 1.5;
    big(3, 60) = -2.0;
    Grid small(1, 1);
    small = big;
    EXPECT_EQ(small.NumRows(), 66u);
    EXPECT_EQ(small.NumCols(), 66u);
    EXPECT_EQ(small(65, 0), 1.5);
    EXPECT_EQ(small(3, 60), -2.0);

    small = Grid(1, 1);
    EXPECT_EQ(small.NumRows(), 1u);
    EXPECT_EQ(small.NumCols(), 1u);
    EXPECT_EQ(small(0, 0), 0.0);

    // Copies are independent.
    Grid copy = big;
    copy(3, 60) = 9.0;
    EXPECT_EQ(big(3, 60), -2.0);
}

TEST(Grid, SetZeroKeepsShape) {
    Grid grid(4, 6);
    grid(5, 3) = 1.0;
    grid(0, 0) = -1.0;
    grid.SetZero();
    EXPECT_EQ(grid.NumRows(), 4u);
    EXPECT_EQ(grid.NumCols(), 6u);
    EXPECT_EQ(maxAbs(grid), 0.0);
}

using GridDeathTest = ::testing::Test;

TEST_F(GridDeathTest, BoundsChecksNameTheConditionAndFile) {
    Grid grid(3, 5);
    const Grid &constGrid = grid;
    EXPECT_DEATH(grid(2, 4) = 1.0, "grid\\.h.*j < m_rows");
    EXPECT_DEATH(grid(5, 0) = 1.0, "grid\\.h.*i < m_cols");
    EXPECT_DEATH((void)constGrid(0, 3), "j < m_rows");
    // Both out of range: the column check comes first.
    EXPECT_DEATH((void)constGrid(9, 9), "i < m_cols");
    // A negative index wraps to a huge unsigned value and is caught.
    EXPECT_DEATH((void)constGrid(static_cast<std::uint32_t>(-1), 0), "i < m_cols");
    EXPECT_DEATH((void)Grid(0, 0)(0, 0), "i < m_cols");
}
