#pragma once

// StepObserver: something that follows every step of a run, such as the
// renderer's files, its checkpoints or the window's recording. Its calls come
// from the thread that steps the run and hold the run up until they return:
// anything slow on a run that must not wait (the window's) belongs on a
// thread of its own.

#include "simframe.h"

#include <string>

class Solver;

namespace velloran {

struct StepReport;

class StepObserver {
public:
    virtual ~StepObserver() = default;

    // After every finite step, with its report (metrics included), and for
    // the state a run starts from when its driver announces it (Run::begin).
    // `solver` holds the state after the step. Returning false, with the
    // reason in *error, ends the run as an output failure; the observers after
    // this one are then not told of the step.
    virtual bool stepFinished(const Solver &solver, const StepReport &report,
                              std::string *error) = 0;

    // The run has ended (stopped, or unstable after `lastFinite.step`): its
    // last finite state, from a driver that keeps one (the window's worker).
    // No call follows.
    virtual void runEnded(const SimFrame &lastFinite) { static_cast<void>(lastFinite); }
};

} // namespace velloran
