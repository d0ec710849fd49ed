#pragma once

// The steps of one discretisation, a class per scheme with its own scratch,
// chosen from the table in scheme.cpp. Internal to the core.

#include "scheme.h"

#include <memory>
#include <vector>

namespace velloran {

struct Flow;
class SmokeField;
class Stepping;

// A run's smoke fields, in their fixed order.
using SmokeFields = std::vector<std::unique_ptr<SmokeField>>;

class SchemeSteps {
public:
    virtual ~SchemeSteps() = default;

    // The scheme's sub-steps of one time step, after the driving force and
    // the attenuation that all schemes share: the flow's stages once, each
    // field's own stages for every field in order, all carried by the one
    // flow. A stage that cannot be kept stable sets Stepping::m_hitSubcycleCap
    // and ends the step; the centred velocities are the caller's.
    virtual void step(SmokeFields &smoke) = 0;

    // Per-thread scratch sized anew for Stepping::m_threadCount, and the vector
    // flavour passed on to the scheme's own solvers; never during a step.
    virtual void threadsChanged() = 0;
    virtual void simdChanged() {}
    // The flow's obstacles were set or replaced (Flow::m_obstacles).
    virtual void obstaclesChanged() {}
};

struct SchemeEntry {
    Scheme scheme;
    const char *name; // the word of configuration files and options
    bool floorsDrive; // its driving field's denominator is floored (balancing.h)
    std::unique_ptr<SchemeSteps> (*make)(Stepping &stepping, Flow &flow);
};

const SchemeEntry &schemeEntry(Scheme scheme);

} // namespace velloran
