#pragma once

// StepPacer: keeps a run at no more than a chosen number of steps per second.
//
// Steps are due on a regular schedule, one interval apart. A step that starts
// a little late keeps the schedule, so the jitter of waking from a sleep does
// not add up and the run keeps the chosen rate on average; a step that starts
// more than a whole interval late (the solver itself is slower than the rate,
// or the run was held) starts a fresh schedule instead of hurrying to catch up.
// Times are nanoseconds on any monotonic clock.

#include <cstdint>

class StepPacer {
public:
    // Steps per second; 0 (or anything not positive) removes the limit.
    void setRate(double stepsPerSecond);
    bool limited() const { return m_intervalNs > 0; }

    // Nanoseconds from `now` until the next step is due; 0 when it may start at once.
    std::int64_t waitNs(std::int64_t now) const;

    // Records that a step starts at `now`.
    void stepStarted(std::int64_t now);

    // Forgets the schedule: the next step may start at once (after a pause).
    void restart();

private:
    std::int64_t m_intervalNs = 0;
    bool m_started = false;
    std::int64_t m_lastStart = 0; // when the latest step started
    std::int64_t m_due = 0;       // when the next step is due
};
