// The worker's building blocks: the copy that checks for non-finite values,
// the distance to the target, and the pacing of a limited step rate.

#include "finitecopy.h"
#include "metrics.h"
#include "solver.h"
#include "steppacer.h"
#include "targetdistance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

Grid pattern(std::uint32_t rows, std::uint32_t cols) {
    Grid g(rows, cols);
    for (std::uint32_t j = 0; j < rows; ++j) {
        for (std::uint32_t i = 0; i < cols; ++i) {
            g(i, j) = std::sin(0.3 * i + 0.7 * j) * 1e3;
        }
    }
    return g;
}

bool sameBits(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(FiniteCopy, CopiesEveryShapeExactly) {
    // Shapes whose element counts leave every remainder after the vector
    // loop, and one the size of a 128 x 128 run.
    const std::pair<std::uint32_t, std::uint32_t> shapes[] = {{1, 1}, {1, 7}, {3, 3},    {2, 5},
                                                              {4, 4}, {3, 6}, {130, 130}};
    for (const auto &[rows, cols] : shapes) {
        const Grid from = pattern(rows, cols);
        Grid to(2, 2);
        EXPECT_TRUE(copyCheckingFinite(from, to)) << rows << "x" << cols;
        EXPECT_TRUE(sameBits(from, to)) << rows << "x" << cols;
    }
}

TEST(FiniteCopy, FindsEveryNonFiniteValueWhereverItIs) {
    // 9 x 9 = 81 values: eight blocks of eight and one in the tail.
    for (double bad : {kInf, -kInf, kNaN, -kNaN}) {
        for (std::uint32_t k = 0; k < 81; ++k) {
            Grid from = pattern(9, 9);
            from(k % 9, k / 9) = bad;
            Grid to(9, 9);
            EXPECT_FALSE(copyCheckingFinite(from, to)) << bad << " at " << k;
        }
    }
}

TEST(FiniteCopy, ExtremeFiniteValuesPass) {
    Grid from(2, 3);
    from(0, 0) = std::numeric_limits<double>::max();
    from(1, 0) = -std::numeric_limits<double>::max();
    from(2, 0) = std::numeric_limits<double>::denorm_min();
    from(0, 1) = -0.0;
    from(1, 1) = std::numeric_limits<double>::min();
    from(2, 1) = -1e-310;
    Grid to(1, 1);
    EXPECT_TRUE(copyCheckingFinite(from, to));
    EXPECT_TRUE(sameBits(from, to));
}

TEST(TargetDistance, IsTheRenderersDistanceBitForBit) {
    const std::uint32_t n = 24;
    Grid src(n, n), tgt(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n - 0.5, y = (j + 0.5) / n - 0.5;
            src(i, j) = x * x + y * y < 0.1 ? 1.0 : 0.1 * (i % 3);
            tgt(i, j) = std::fabs(x) < 0.15 ? 0.8 : 0.0;
        }
    }
    Solver solver(src, tgt);
    solver.m_vf = 1.0;
    solver.m_vd = 3.0;
    solver.setSigma(1.0);
    solver.setTimeStep(0.002);
    for (int k = 0; k < 30; ++k) {
        solver.step();
    }
    const double expected = velloran::measure(solver, 30, 0.0).distance;
    EXPECT_EQ(distanceToTarget(*solver.m_density, *solver.m_target), expected);
}

TEST(TargetDistance, EmptyTargetAndTinyGrids) {
    Grid density(4, 4), target(4, 4);
    density(1, 1) = 0.25;
    density(2, 2) = -0.5;
    density(0, 0) = 100.0; // the frame does not count
    EXPECT_EQ(distanceToTarget(density, target), 0.75);
    target(1, 2) = 2.0;
    EXPECT_EQ(distanceToTarget(density, target), 2.75 / 2.0);
    EXPECT_EQ(distanceToTarget(Grid(1, 1), Grid(1, 1)), 0.0);
}

TEST(StepPacer, UnlimitedNeverWaits) {
    StepPacer pacer;
    EXPECT_FALSE(pacer.limited());
    pacer.stepStarted(0);
    EXPECT_EQ(pacer.waitNs(0), 0);
    pacer.setRate(0.0);
    pacer.setRate(-5.0);
    pacer.setRate(kNaN);
    EXPECT_FALSE(pacer.limited());
    EXPECT_EQ(pacer.waitNs(1), 0);
}

TEST(StepPacer, KeepsTheScheduleThroughSmallDelays) {
    const std::int64_t ms = 1000000;
    StepPacer pacer;
    pacer.setRate(100.0);          // one step every 10 ms
    EXPECT_EQ(pacer.waitNs(0), 0); // the first step at once
    pacer.stepStarted(0);
    EXPECT_EQ(pacer.waitNs(4 * ms), 6 * ms);
    pacer.stepStarted(10 * ms + 300000);      // woke 0.3 ms late
    EXPECT_EQ(pacer.waitNs(12 * ms), 8 * ms); // still due at 20 ms
    pacer.stepStarted(27 * ms);               // 7 ms late: catches up
    EXPECT_EQ(pacer.waitNs(28 * ms), 2 * ms);
    // Far behind (the solver was slower than the rate): no burst to catch up.
    pacer.stepStarted(75 * ms);
    EXPECT_EQ(pacer.waitNs(75 * ms), 10 * ms);
}

TEST(StepPacer, NewRateAppliesFromTheLatestStepAndRestartGoesAtOnce) {
    const std::int64_t ms = 1000000;
    StepPacer pacer;
    pacer.setRate(10.0);
    pacer.stepStarted(0);
    EXPECT_EQ(pacer.waitNs(1 * ms), 99 * ms);
    pacer.setRate(1000.0);
    EXPECT_EQ(pacer.waitNs(0), 1 * ms);
    EXPECT_EQ(pacer.waitNs(1 * ms), 0);
    pacer.setRate(0.0);
    EXPECT_EQ(pacer.waitNs(0), 0);
    pacer.setRate(10.0);
    pacer.restart();
    EXPECT_EQ(pacer.waitNs(1 * ms), 0);
}
