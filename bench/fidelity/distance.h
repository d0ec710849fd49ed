#pragma once

// The distance the benchmarks judge a run by: the renderer's metrics.csv
// distance, sum |rho - rho*| / sum rho* over the interior, with rho* the
// target as the solver holds it (scaled to the smoke).

#include "solver.h"
#include "targetdistance.h"

namespace fidelity {

inline double distance(const Solver &s) {
    return distanceToTarget(*s.m_density, *s.m_target);
}

} // namespace fidelity
