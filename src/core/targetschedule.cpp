#include "targetschedule.h"

#include "check.h"
#include "solver.h"

#include <utility>

namespace velloran {

TargetSchedule::TargetSchedule(const Grid &firstTarget, std::vector<Keyframe> keyframes)
    : m_first(firstTarget)
    , m_keyframes(std::move(keyframes))
    , m_current(firstTarget) {
    std::int64_t previous = 0;
    for (const Keyframe &keyframe : m_keyframes) {
        VELLORAN_CHECK(keyframe.step > previous);
        VELLORAN_CHECK(keyframe.blend >= 0);
        VELLORAN_CHECK(keyframe.target.NumRows() == firstTarget.NumRows());
        VELLORAN_CHECK(keyframe.target.NumCols() == firstTarget.NumCols());
        previous = keyframe.step;
    }
}

int TargetSchedule::activeIndex(std::int64_t stepsDone) const {
    int active = 0;
    for (std::size_t k = 0; k < m_keyframes.size(); ++k) {
        if (m_keyframes[k].step <= stepsDone) {
            active = static_cast<int>(k) + 1;
        }
    }
    return active;
}

bool TargetSchedule::changesAt(std::int64_t stepsDone) const {
    const int active = activeIndex(stepsDone);
    if (active == 0) {
        return false;
    }
    const Keyframe &keyframe = m_keyframes[static_cast<std::size_t>(active - 1)];
    const std::int64_t into = stepsDone - keyframe.step;
    return into == 0 || into < keyframe.blend;
}

void TargetSchedule::fillTargetAt(std::int64_t stepsDone, Grid *out) const {
    const int active = activeIndex(stepsDone);
    if (active == 0) {
        *out = m_first;
        return;
    }
    const Keyframe &keyframe = m_keyframes[static_cast<std::size_t>(active - 1)];
    const std::int64_t into = stepsDone - keyframe.step;
    if (into >= keyframe.blend || into + 1 == keyframe.blend) {
        *out = keyframe.target;
        return;
    }
    // Mid-blend: the mixture of what held before the keyframe and its image.
    fillTargetAt(keyframe.step - 1, out);
    const double t = static_cast<double>(into + 1) / static_cast<double>(keyframe.blend);
    Grid &mix = *out;
    const Grid &next = keyframe.target;
    for (std::uint32_t j = 0; j < mix.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < mix.NumCols(); ++i) {
            mix(i, j) = (1 - t) * mix(i, j) + t * next(i, j);
        }
    }
}

Grid TargetSchedule::targetAt(std::int64_t stepsDone) const {
    Grid target(m_first.NumRows(), m_first.NumCols());
    fillTargetAt(stepsDone, &target);
    return target;
}

bool TargetSchedule::apply(Solver &solver, std::int64_t stepsDone) {
    if (!changesAt(stepsDone)) {
        return false;
    }
    fillTargetAt(stepsDone, &m_current);
    solver.setTarget(m_current);
    return true;
}

} // namespace velloran
