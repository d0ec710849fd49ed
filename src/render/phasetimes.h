#pragma once

// Where a render's wall time goes, phase by phase: start-up (the application
// object), set-up (inputs, images, solver, folder), the steps split into the
// solver's own time, the metrics, the rows, the frames and the progress line,
// and the finish (metrics file closed, plot, video, summary). With
// VELLORAN_PHASE_TIMES set in the environment the renderer prints them on
// stderr as its last line:
//   velloran-render: phase ms: startup 11.2 setup 9.8 steps 181.0 solver 170.4 ...
// Time before main() (loading the program and its libraries) is not seen from
// inside; bench/process_times.sh takes it as the process's wall time minus
// the total printed here.

#include <chrono>
#include <cstdio>

namespace velloran {

enum class Phase {
    Startup,
    Setup,
    Steps, // the step loop as a whole; the next five are its parts
    Solver,
    Metrics,
    Rows,
    Frames,
    Progress,
    Finish, // from the end of the steps; the plot is part of it
    Plot,
    Count
};

class PhaseTimes {
public:
    using Clock = std::chrono::steady_clock;

    static PhaseTimes &instance();

    // The time since the previous lap (or since the clock was made) goes to
    // `phase`.
    void lap(Phase phase);
    void add(Phase phase, Clock::duration time) { m_time[static_cast<int>(phase)] += time; }

    // The line above, if the environment asks for it.
    void printIfAsked(FILE *stream) const;

private:
    PhaseTimes();

    Clock::time_point m_start;
    Clock::time_point m_lap;
    Clock::duration m_time[static_cast<int>(Phase::Count)] = {};
};

// Adds the lifetime of the scope to a phase.
class PhaseScope {
public:
    explicit PhaseScope(Phase phase)
        : m_phase(phase)
        , m_start(PhaseTimes::Clock::now()) {}
    ~PhaseScope() { PhaseTimes::instance().add(m_phase, PhaseTimes::Clock::now() - m_start); }
    PhaseScope(const PhaseScope &) = delete;
    PhaseScope &operator=(const PhaseScope &) = delete;

private:
    Phase m_phase;
    PhaseTimes::Clock::time_point m_start;
};

} // namespace velloran
