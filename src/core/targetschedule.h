#pragma once

// TargetSchedule: a run whose target changes. The first target holds from
// step 0; each keyframe names the step from which its target applies and an
// optional blend over that many steps. The schedule is a pure function of the
// number of steps done, so a run resumed at any step finds the same targets.
//
// A cut (blend 0) makes the keyframe's image the target before its step is
// computed. A blend of B steps mixes the target in effect before the keyframe
// (P) with the keyframe's image (K): before step s + m, m = 0 .. B - 1, the
// target is (1 - t) P + t K with t = (m + 1) / B, so the last step of the blend
// uses K itself. A keyframe that starts while an earlier blend is under way
// blends from the mixture in effect at that moment.
//
// Every target the solver receives goes through Solver::setTarget: scaled to
// the smoke's mass at that moment, blurred, driving field recomputed.

#include "grid.h"

#include <cstdint>
#include <vector>

class Solver;

namespace velloran {

struct Keyframe {
    std::int64_t step = 0;  // first step computed with this target, > 0
    Grid target{1, 1};      // N x N, shaped like the run's source density
    std::int64_t blend = 0; // steps over which it is blended in; 0 cuts
};

class TargetSchedule {
public:
    // firstTarget: the run's target from step 0 (N x N, unscaled). Keyframe
    // steps must be positive and strictly increasing, blends not negative,
    // every target N x N.
    TargetSchedule(const Grid &firstTarget, std::vector<Keyframe> keyframes);

    // Number of targets, the first one included.
    int count() const { return static_cast<int>(m_keyframes.size()) + 1; }
    const std::vector<Keyframe> &keyframes() const { return m_keyframes; }

    // Index of the target that governs the step after `stepsDone` steps: 0 for
    // the first, k for keyframe k (from its step on, blend included).
    int activeIndex(std::int64_t stepsDone) const;

    // True when the step after `stepsDone` steps starts a cut or is a step of a
    // blend, i.e. when apply() hands the solver a new target.
    bool changesAt(std::int64_t stepsDone) const;

    // Call before every step with the number of steps done. Hands the solver
    // its new target when one is due and returns true; otherwise does nothing.
    bool apply(Solver &solver, std::int64_t stepsDone);

    // The unscaled target in effect for the step after `stepsDone` steps.
    Grid targetAt(std::int64_t stepsDone) const;

private:
    // Writes targetAt(stepsDone) into *out (shaped N x N).
    void fillTargetAt(std::int64_t stepsDone, Grid *out) const;

    Grid m_first;
    std::vector<Keyframe> m_keyframes;
    Grid m_current; // scratch for apply()
};

} // namespace velloran
