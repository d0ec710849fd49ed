#pragma once

// Run: one run of the solver, whoever drives it (the window's worker, the
// renderer's loop, the Python module). It owns the solver, the keyframe
// schedule and the step count, and each step does the same everywhere: the
// target due is handed over, the solver steps, the state is checked for
// finiteness, measured when somebody follows the run, and the observers are
// told. The drivers keep only what is theirs: threads, files, the interpreter
// lock.
//
// A Run is used from one thread at a time; only steps() may be read from
// another thread while it steps.

#include "stepmetrics.h"
#include "stepobserver.h"
#include "targetschedule.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Solver;

namespace velloran {

// What one step did.
struct StepReport {
    std::int64_t step = 0; // steps done, this one included (0: the starting state)
    int target = 0;        // index of the target that governed the step (0: the first)
    bool finite = true;    // stateFinite() after the step
    // Measured when an observer follows the run (its `target`, `seconds` and
    // `finite` those of this report).
    std::optional<StepMetrics> metrics;
    // An observer failed (the first one's reason in `error`): the run must
    // end as an output failure.
    bool failed = false;
    std::string error;
};

class Run {
public:
    // schedule: the targets after the first (null: the solver's target all
    // along); its first target is the solver's.
    explicit Run(std::unique_ptr<Solver> solver,
                 std::unique_ptr<TargetSchedule> schedule = nullptr);
    ~Run();
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // Before the first step: the schedule may also come after the solver.
    void setSchedule(std::unique_ptr<TargetSchedule> schedule);
    // A colour run with keyframes: the schedule above is its first field's,
    // these are the further fields' (field 1, 2, ... in order), each with the
    // same steps and blends, so the first one's target index is the run's.
    // Before the first step.
    void setFieldSchedules(std::vector<std::unique_ptr<TargetSchedule>> schedules);
    const std::vector<std::unique_ptr<TargetSchedule>> &fieldSchedules() const {
        return m_fieldSchedules;
    }

    // Goes on from a solver state saved after `steps` steps, `seconds` of
    // wall time into the run.
    void resumeAt(std::int64_t steps, double seconds = 0.0);

    // Observers are told in the order they were added; the run does not own
    // them. Changed only between steps. While there are any, every step is
    // measured, the smoke it moved included.
    void addObserver(StepObserver *observer);
    void removeObserver(StepObserver *observer);

    // Tells the observers of the state the run starts from, as if a step had
    // just ended there (step 0 of a fresh run), and starts the run's clock.
    StepReport begin();

    // One step. Not to be called again once a step was not finite: the
    // observers are not told of that one, and the run cannot go on.
    StepReport step();

    // Steps done; may be read while another thread steps.
    std::int64_t steps() const { return m_steps.load(std::memory_order_relaxed); }
    // The step after which the state was not finite; 0 while it is.
    std::int64_t unstableStep() const { return m_unstableStep; }

    // Index of the target that governed the last step (0 before any step).
    int lastTarget() const;
    int targetCount() const { return m_schedule ? m_schedule->count() : 1; }
    const TargetSchedule *schedule() const { return m_schedule.get(); }

    // The current state measured, as the last report would have it.
    StepMetrics measure() const;

    // Wall time since the run's first step or begin() (plus the time before a
    // resume), and the part of it spent stepping the solver this session.
    double seconds() const;
    double solverSeconds() const { return m_solverNanoseconds / 1e9; }
    // The part spent measuring the steps for the observers, this session.
    double measureSeconds() const { return m_measureNanoseconds / 1e9; }

    Solver &solver() { return *m_solver; }
    const Solver &solver() const { return *m_solver; }

    // Gives up the solver without destroying it (a forked child, whose copy
    // of the solver's helper threads does not exist, must not join them).
    void abandon();

private:
    using Clock = std::chrono::steady_clock;

    void startClock();
    StepReport report(std::int64_t step, int target);

    std::unique_ptr<Solver> m_solver;
    std::unique_ptr<TargetSchedule> m_schedule;
    std::vector<std::unique_ptr<TargetSchedule>> m_fieldSchedules; // fields 1, 2, ...
    std::vector<StepObserver *> m_observers;
    std::atomic<std::int64_t> m_steps{0};
    std::int64_t m_unstableStep = 0;
    double m_secondsBefore = 0.0;
    std::optional<Clock::time_point> m_started;
    std::int64_t m_solverNanoseconds = 0;
    std::int64_t m_measureNanoseconds = 0;
};

} // namespace velloran
