// A target that changes during a run: Solver::setTarget and the keyframe
// schedule built on it.

#include "solver.h"
#include "targetschedule.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <vector>

using velloran::Keyframe;
using velloran::Scheme;
using velloran::TargetSchedule;

namespace {

void configure(Solver &s, Scheme scheme) {
    s.m_vf = 2;
    s.m_vd = 30;
    s.m_vg = scheme == Scheme::Sound ? 0.3 : 0.0;
    s.setSigma(1.0);
    s.setTimeStep(0.001);
    s.setScheme(scheme);
}

double interiorSum(const Grid &g) {
    const std::uint32_t n = g.NumCols() - 2;
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            sum += g(i, j);
        }
    }
    return sum;
}

Grid bar(std::uint32_t n, bool vertical) {
    return makeGrid(n, n, [n, vertical](std::uint32_t i, std::uint32_t j) {
        const double a = ((vertical ? i : j) + 0.5) / n;
        const double b = ((vertical ? j : i) + 0.5) / n;
        return a > 0.4 && a < 0.6 && b > 0.15 && b < 0.85 ? 1.0 : 0.0;
    });
}

bool sameState(const Solver &a, const Solver &b) {
    return equalBits(*a.m_density, *b.m_density) && equalBits(*a.m_u, *b.m_u) &&
           equalBits(*a.m_v, *b.m_v) && equalBits(*a.m_target, *b.m_target) &&
           equalBits(*a.m_blurTarget, *b.m_blurTarget) && equalBits(*a.m_driveU, *b.m_driveU) &&
           equalBits(*a.m_driveV, *b.m_driveV);
}

} // namespace

// At step 0 a new target heavier than the smoke is scaled exactly as the
// constructor would have scaled it: the same target, blur and driving field,
// bit for bit; density and velocity are not touched.
TEST(SetTarget, MatchesASolverBuiltWithThatTarget) {
    const std::uint32_t n = 24;
    const Grid source = discGrid(n, 9, 10, 3);
    const Grid heavier = bar(n, true);
    Solver switched(source, discGrid(n, 13, 12, 8));
    Solver built(source, heavier);
    configure(switched, Scheme::Literal);
    configure(built, Scheme::Literal);
    const Grid density = *switched.m_density;
    switched.setTarget(heavier);
    EXPECT_TRUE(equalBits(*switched.m_target, *built.m_target));
    EXPECT_TRUE(equalBits(*switched.m_blurTarget, *built.m_blurTarget));
    EXPECT_TRUE(equalBits(*switched.m_driveU, *built.m_driveU));
    EXPECT_TRUE(equalBits(*switched.m_driveV, *built.m_driveV));
    EXPECT_TRUE(equalBits(*switched.m_density, density));
}

// Later in a run the target takes the mass the smoke has then, up or down,
// and the smoke keeps its own; an empty target stays empty without NaN.
TEST(SetTarget, ScalesToTheSmokeOfTheMoment) {
    const std::uint32_t n = 20;
    Solver s(discGrid(n, 8, 8, 5), discGrid(n, 12, 12, 5));
    configure(s, Scheme::Literal);
    for (int step = 0; step < 40; ++step) {
        s.step();
    }
    const Grid density = *s.m_density;
    const Grid u = *s.m_u;
    const double smoke = interiorSum(density);
    for (double scale : {0.01, 1.0, 50.0}) {
        const Grid target =
            makeGrid(n, n, [scale](std::uint32_t i, std::uint32_t) { return i < 6 ? scale : 0.0; });
        s.setTarget(target);
        EXPECT_NEAR(interiorSum(*s.m_target), smoke, 1e-12 * smoke) << scale;
        EXPECT_TRUE(equalBits(*s.m_density, density));
        EXPECT_TRUE(equalBits(*s.m_u, u));
    }
    s.setTarget(uniformGrid(n, 0.0));
    EXPECT_EQ(interiorSum(*s.m_target), 0.0);
    EXPECT_TRUE(allFinite(*s.m_driveU));
    EXPECT_TRUE(allFinite(*s.m_driveV));
    EXPECT_EQ(maxAbs(*s.m_driveU), 0.0);
}

// A run whose schedule cuts to a new target at step K equals, bit for bit, a
// run given that target by hand before step K; with no keyframes it is the
// plain run. Both schemes.
TEST(TargetSchedule, CutEqualsASwitchByHand) {
    const std::uint32_t n = 24;
    const Grid source = discGrid(n, 9, 12, 6);
    const Grid first = bar(n, true);
    const Grid second = bar(n, false);
    for (Scheme scheme : {Scheme::Literal, Scheme::Sound}) {
        Solver scheduled(source, first);
        Solver byHand(source, first);
        Solver plain(source, first);
        Solver unscheduled(source, first);
        for (Solver *s : {&scheduled, &byHand, &plain, &unscheduled}) {
            configure(*s, scheme);
        }
        std::vector<Keyframe> keyframes(1);
        keyframes[0].step = 25;
        keyframes[0].target = second;
        TargetSchedule schedule(first, keyframes);
        TargetSchedule none(first, {});
        for (std::int64_t done = 0; done < 60; ++done) {
            EXPECT_EQ(schedule.apply(scheduled, done), done == 25);
            EXPECT_FALSE(none.apply(unscheduled, done));
            if (done == 25) {
                byHand.setTarget(second);
            }
            scheduled.step();
            byHand.step();
            plain.step();
            unscheduled.step();
        }
        EXPECT_TRUE(sameState(scheduled, byHand)) << velloran::schemeName(scheme);
        EXPECT_TRUE(sameState(plain, unscheduled)) << velloran::schemeName(scheme);
        EXPECT_FALSE(equalBits(*plain.m_density, *scheduled.m_density));
    }
}

// Which target governs which step, and what a blend hands over: B equal steps
// from the previous target to the new one, the last of them the new image
// itself; a keyframe that starts inside a blend blends on from the mixture.
TEST(TargetSchedule, BlendsAndActiveIndices) {
    const std::uint32_t n = 4;
    std::vector<Keyframe> keyframes(3);
    keyframes[0] = Keyframe{10, uniformGrid(n, 1.0), 4};
    keyframes[1] = Keyframe{20, uniformGrid(n, 2.0), 0};
    keyframes[2] = Keyframe{22, uniformGrid(n, 3.0), 4};
    const TargetSchedule schedule(uniformGrid(n, 0.0), keyframes);
    EXPECT_EQ(schedule.count(), 4);

    const auto valueAt = [&](std::int64_t done) { return schedule.targetAt(done)(2, 1); };
    EXPECT_EQ(schedule.activeIndex(0), 0);
    EXPECT_EQ(schedule.activeIndex(9), 0);
    EXPECT_EQ(schedule.activeIndex(10), 1);
    EXPECT_EQ(schedule.activeIndex(21), 2);
    EXPECT_EQ(schedule.activeIndex(1000), 3);

    EXPECT_EQ(valueAt(9), 0.0);
    EXPECT_DOUBLE_EQ(valueAt(10), 0.25);
    EXPECT_DOUBLE_EQ(valueAt(11), 0.5);
    EXPECT_DOUBLE_EQ(valueAt(12), 0.75);
    EXPECT_EQ(valueAt(13), 1.0);
    EXPECT_EQ(valueAt(19), 1.0);
    EXPECT_EQ(valueAt(20), 2.0);
    EXPECT_DOUBLE_EQ(valueAt(22), 2.25);
    EXPECT_EQ(valueAt(25), 3.0);

    std::vector<std::int64_t> changes;
    for (std::int64_t done = 0; done < 40; ++done) {
        if (schedule.changesAt(done)) {
            changes.push_back(done);
        }
    }
    EXPECT_EQ(changes, (std::vector<std::int64_t>{10, 11, 12, 13, 20, 22, 23, 24, 25}));
}

// A second keyframe inside the first one's blend starts its own blend from the
// mixture that held when it began.
TEST(TargetSchedule, OverlappingBlendStartsFromTheMixture) {
    const std::uint32_t n = 3;
    std::vector<Keyframe> keyframes(2);
    keyframes[0] = Keyframe{5, uniformGrid(n, 4.0), 4};
    keyframes[1] = Keyframe{7, uniformGrid(n, 8.0), 2};
    const TargetSchedule schedule(uniformGrid(n, 0.0), keyframes);
    // Before step 7 the mixture was 2 (t = 1/2 of the way to 4).
    EXPECT_DOUBLE_EQ(schedule.targetAt(6)(1, 1), 2.0);
    EXPECT_DOUBLE_EQ(schedule.targetAt(7)(1, 1), 5.0);
    EXPECT_EQ(schedule.targetAt(8)(1, 1), 8.0);
}
