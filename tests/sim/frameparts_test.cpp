// The worker's building blocks: the distance to the target and the pacing of
// a limited step rate.

#include "solver.h"
#include "stepmetrics.h"
#include "steppacer.h"
#include "targetdistance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

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
