// One run as every driver steps it: which target each step is computed with,
// what the observers are told and when, and how a failure or an unstable step
// ends it. (The bits of keyframed runs are compared with a solver stepped by
// hand in the worker's tests, through this class.)

#include "run.h"
#include "solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace velloran;

namespace {

// A disc of smoke, a bar as target, a second bar as the keyframe's.
struct Inputs {
    explicit Inputs(std::uint32_t n)
        : src(n, n)
        , tgt(n, n)
        , second(n, n) {
        for (std::uint32_t j = 0; j < n; ++j) {
            for (std::uint32_t i = 0; i < n; ++i) {
                const double x = (i + 0.5) / n - 0.5, y = (j + 0.5) / n - 0.5;
                src(i, j) = x * x + y * y < 0.1 ? 1.0 : 0.0;
                tgt(i, j) = std::fabs(x) < 0.1 ? 1.0 : 0.0;
                second(i, j) = std::fabs(y) < 0.1 ? 1.0 : 0.0;
            }
        }
    }
    Grid src, tgt, second;
};

std::unique_ptr<Solver> makeSolver(const Inputs &in, double vf, double vg, double dt) {
    auto solver = std::make_unique<Solver>(in.src, in.tgt);
    solver->m_vf = vf;
    solver->m_vd = 3.0;
    solver->m_vg = vg;
    solver->setSigma(1.0);
    solver->setTimeStep(dt);
    return solver;
}

// Notes every call as "name:step:target", and fails at one step if asked.
struct Recording : StepObserver {
    Recording(std::string called, std::vector<std::string> *log)
        : name(std::move(called))
        , calls(log) {}
    bool stepFinished(const Solver &, const StepReport &report, std::string *error) override {
        EXPECT_TRUE(report.finite);
        EXPECT_TRUE(report.metrics.has_value());
        EXPECT_EQ(report.metrics->step, report.step);
        EXPECT_EQ(report.metrics->target, report.target);
        // Followed, a run measures the smoke each step moved (step 0: none).
        EXPECT_EQ(report.metrics->advected > 0.0, report.step > 0);
        calls->push_back(name + ":" + std::to_string(report.step) + ":" +
                         std::to_string(report.target));
        if (report.step == failAt) {
            *error = name + " could not write";
            return false;
        }
        return true;
    }
    std::string name;
    std::vector<std::string> *calls;
    std::int64_t failAt = -1;
};

} // namespace

TEST(Run, KeyframesGovernTheStepsAfterThemAndObserversFollowInOrder) {
    const Inputs in(12);
    std::vector<Keyframe> keyframes(2);
    keyframes[0].step = 2; // a cut: step 3 is computed with the second target
    keyframes[0].target = in.second;
    keyframes[1].step = 4; // blended in over steps 5 and 6
    keyframes[1].target = in.tgt;
    keyframes[1].blend = 2;
    velloran::Run run(makeSolver(in, 1.0, 0.0, 0.001),
                      std::make_unique<TargetSchedule>(in.tgt, keyframes));
    std::vector<std::string> calls;
    Recording first("a", &calls), second("b", &calls);
    run.addObserver(&first);
    run.addObserver(&second);

    EXPECT_EQ(run.begin().step, 0);
    EXPECT_EQ(run.lastTarget(), 0);
    const Grid before = *run.solver().m_target;
    std::vector<int> targets;
    for (int k = 0; k < 6; ++k) {
        const StepReport report = run.step();
        EXPECT_EQ(report.step, k + 1);
        EXPECT_FALSE(report.failed);
        EXPECT_EQ(run.lastTarget(), report.target);
        targets.push_back(report.target);
        if (report.step == 2) {
            EXPECT_EQ(std::memcmp(before.data(), run.solver().m_target->data(),
                                  sizeof(double) * before.NumRows() * before.NumCols()),
                      0)
                << "the cut came early";
        }
    }
    EXPECT_EQ(targets, (std::vector<int>{0, 0, 1, 1, 2, 2}));
    EXPECT_EQ(run.steps(), 6);
    EXPECT_EQ(run.targetCount(), 3);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:0:0", "b:0:0", "a:1:0", "b:1:0", "a:2:0", "b:2:0",
                                               "a:3:1", "b:3:1", "a:4:1", "b:4:1", "a:5:2", "b:5:2",
                                               "a:6:2", "b:6:2"}));

    // Removed, an observer hears nothing more; without observers nothing is
    // measured.
    run.removeObserver(&first);
    run.removeObserver(&second);
    EXPECT_FALSE(run.step().metrics.has_value());
    EXPECT_EQ(calls.size(), 14u);
}

// Each further field follows its own schedule into its own solver field: the
// run's fields equal, bit for bit, a solver retargeted by hand at the same
// steps (a cut before step 3, a blend over steps 5 and 6).
TEST(Run, EachFieldFollowsItsOwnSchedule) {
    const Inputs in(12);
    const auto twoFields = [&in] {
        auto solver = std::make_unique<Solver>(
            std::vector<SmokeInput>{{&in.src, &in.tgt}, {&in.src, &in.second}});
        solver->m_vf = 1.0;
        solver->m_vd = 3.0;
        solver->setSigma(1.0);
        solver->setTimeStep(0.001);
        return solver;
    };
    const auto schedule = [](const Grid &first, const Grid &cut, const Grid &blended) {
        return std::make_unique<TargetSchedule>(
            first, std::vector<Keyframe>{{2, cut, 0}, {4, blended, 2}});
    };
    velloran::Run run(twoFields(), schedule(in.tgt, in.second, in.src));
    std::vector<std::unique_ptr<TargetSchedule>> further;
    further.push_back(schedule(in.second, in.src, in.tgt));
    run.setFieldSchedules(std::move(further));

    auto byHand = twoFields();
    Grid half(12, 12);
    for (int step = 0; step < 6; ++step) {
        if (step == 2) {
            byHand->setTarget(0, in.second);
            byHand->setTarget(1, in.src);
        }
        if (step == 4) {
            for (std::uint32_t j = 0; j < 12; ++j) {
                for (std::uint32_t i = 0; i < 12; ++i) {
                    half(i, j) = 0.5 * in.second(i, j) + 0.5 * in.src(i, j);
                }
            }
            byHand->setTarget(0, half);
            for (std::uint32_t j = 0; j < 12; ++j) {
                for (std::uint32_t i = 0; i < 12; ++i) {
                    half(i, j) = 0.5 * in.src(i, j) + 0.5 * in.tgt(i, j);
                }
            }
            byHand->setTarget(1, half);
        }
        if (step == 5) {
            byHand->setTarget(0, in.src);
            byHand->setTarget(1, in.tgt);
        }
        byHand->step();
        run.step();
    }
    for (int field = 0; field < 2; ++field) {
        const Grid &a = run.solver().smokeDensity(field);
        const Grid &b = byHand->smokeDensity(field);
        EXPECT_EQ(std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()), 0)
            << "field " << field;
    }
}

TEST(Run, AFailingObserverEndsTheStepsReportWithItsReason) {
    const Inputs in(8);
    velloran::Run run(makeSolver(in, 1.0, 0.0, 0.001));
    std::vector<std::string> calls;
    Recording files("files", &calls), checkpoints("checkpoints", &calls);
    files.failAt = 2;
    run.addObserver(&files);
    run.addObserver(&checkpoints);
    EXPECT_FALSE(run.step().failed);
    const StepReport report = run.step();
    EXPECT_TRUE(report.failed);
    EXPECT_EQ(report.error, "files could not write");
    // The observers after the failing one are not told of its step.
    EXPECT_EQ(calls, (std::vector<std::string>{"files:1:0", "checkpoints:1:0", "files:2:0"}));
}

TEST(Run, AnUnstableStepIsReportedAndNotObserved) {
    // Full gathering with a huge time step blows up within a few steps.
    const Inputs in(8);
    velloran::Run run(makeSolver(in, 1000.0, 1.0, 1.0));
    std::vector<std::string> calls;
    Recording observer("o", &calls);
    run.addObserver(&observer);
    StepReport report;
    while (run.steps() < 200 && (report = run.step()).finite) {
    }
    ASSERT_FALSE(report.finite) << "the run no longer blows up";
    EXPECT_GT(report.step, 1);
    EXPECT_EQ(run.unstableStep(), report.step);
    EXPECT_FALSE(report.metrics->finite); // its row shows where the run broke
    EXPECT_FALSE(stateFinite(run.solver()));
    EXPECT_EQ(calls.size(), static_cast<std::size_t>(report.step - 1));
}

TEST(Run, AResumedRunCountsOnAndKnowsItsTarget) {
    const Inputs in(8);
    std::vector<Keyframe> keyframes(1);
    keyframes[0].step = 5;
    keyframes[0].target = in.second;
    velloran::Run run(makeSolver(in, 1.0, 0.0, 0.001),
                      std::make_unique<TargetSchedule>(in.tgt, keyframes));
    run.resumeAt(7, 2.5);
    EXPECT_EQ(run.lastTarget(), 1);
    EXPECT_GE(run.seconds(), 2.5);
    const StepReport report = run.step();
    EXPECT_EQ(report.step, 8);
    EXPECT_EQ(report.target, 1);
}
