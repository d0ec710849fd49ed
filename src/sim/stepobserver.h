#pragma once

// StepObserver: something that follows every step of a run on the worker
// thread, such as a recording. Its calls come from the worker and must return
// quickly: anything slow (files) belongs on a thread of its own.

#include "simframe.h"

#include <cstdint>

class Solver;

class StepObserver {
public:
    virtual ~StepObserver() = default;

    // After every finite step (and once for step 0 when the observer is there
    // from the start of the run): the solver's state after `step` steps, and
    // the index of the target that governed that step.
    virtual void stepFinished(const Solver &solver, std::int64_t step, int target) = 0;

    // The run has ended (stopped, or unstable after `lastFinite.step`): its
    // last finite frame. No call follows.
    virtual void runEnded(const SimFrame &lastFinite) = 0;
};
