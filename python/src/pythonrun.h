#pragma once

// One run of the solver as Python sees it: the shell's Run (solver, schedule,
// step count) built by the run set-up, and the rules for using it from
// several Python threads.
//
// Stepping releases the interpreter lock, so other Python threads go on
// meanwhile. While a step is under way every other use of the run from
// another thread is refused with UsageError (only the step counter may be
// read). Every other member is called with the interpreter lock held, which
// orders it against the start and the end of a step.

#include "checkpointfile.h"
#include "parameters.h"
#include "run.h"
#include "runinputs.h"
#include "solver.h"
#include "stepmetrics.h"
#include "targetschedule.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace velloran::binding {

class PythonRun {
public:
    // threads: the core's default when empty; clamped by the core to 1 .. 8
    // (below 1: InputError).
    // Keyframes must be valid for a TargetSchedule (steps positive and
    // increasing, blends not negative, targets N x N).
    PythonRun(const RunInputs &inputs, std::optional<int> threads);
    ~PythonRun();
    PythonRun(const PythonRun &) = delete;
    PythonRun &operator=(const PythonRun &) = delete;

    // Takes `count` steps with the interpreter lock released, stopping early
    // when Python has a signal to deliver (Ctrl-C), whose exception is then
    // raised. Throws UnstableError at the step that left the density or the
    // velocity non-finite (and on any later call).
    void step(std::int64_t count);

    // Steps done; safe to read while another thread steps.
    std::int64_t steps() const { return m_run->steps(); }

    // Hands the solver a new N x N target now (scaled to the smoke's mass,
    // blurred, driving field recomputed). A later keyframe replaces it.
    void setTarget(const Grid &target);
    // A colour run's: one target per field, in field order.
    void setTargets(const std::vector<Grid> &targets);

    // Index of the target that drove the last step: 0 for the first, k once
    // keyframe k has taken over (its blend included). The schedule switches
    // after `step` steps are done, before the next one.
    int targetIndex() const { return m_run->lastTarget(); }
    const std::vector<Keyframe> &keyframes() const;
    // The first target as given (N x N, before any scaling).
    const Grid &firstTarget() const { return m_firstTarget; }
    // A colour run's further fields (1, 2, ...): their first targets as given
    // and their keyframes (none when the run has none).
    const std::vector<Grid> &fieldFirstTargets() const { return m_fieldFirstTargets; }
    const std::vector<Keyframe> &fieldKeyframes(std::size_t field) const;

    // Puts the solver in a saved state after `steps` steps. The run must have
    // been made for the same inputs and never stepped. Throws InputError when
    // a grid is missing or has another shape (the run is then unchanged).
    void restore(const std::vector<CheckpointGrid> &grids, std::int64_t steps);

    // The renderer's measures of the current state (distance, mass, largest speed).
    StepMetrics metrics() const;

    // The solver, for reading its grids. Throws UsageError during a step.
    const Solver &solver() const;

    const SimParameters &parameters() const { return m_parameters; }
    // A colour run's picture: its fields' colours and mode; none for a grey run.
    const std::optional<ColourPicture> &picture() const { return m_picture; }
    // A palette run's background, as its first target gave it (none for a
    // run of fields, or one loaded from a checkpoint).
    const std::optional<SmokeColour> &background() const { return m_background; }
    Scheme scheme() const { return m_run->solver().scheme(); }
    int threads() const { return m_run->solver().threadCount(); }
    std::uint32_t side() const { return m_run->solver().m_density->NumCols() - 2; }

private:
    void checkUsable() const;

    std::unique_ptr<velloran::Run> m_run;
    Grid m_firstTarget;
    std::vector<Grid> m_fieldFirstTargets;
    SimParameters m_parameters;
    std::optional<ColourPicture> m_picture;
    std::optional<SmokeColour> m_background;
    std::atomic<bool> m_stepping{false};
    // The process that built the run: its solver's helper threads exist only there.
    pid_t m_process;
};

// Records the interpreter's main thread, the only one Python delivers
// signals to. Called once when the module is imported.
void rememberMainThread();

} // namespace velloran::binding
