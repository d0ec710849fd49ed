#include "stepmetrics.h"

#include "solver.h"

#include <cmath>

namespace velloran {

bool stateFinite(const Solver &solver) {
    return allFinite(*solver.m_density) && allFinite(*solver.m_uCentre) &&
           allFinite(*solver.m_vCentre);
}

StepMetrics measure(const Solver &solver, int step, double seconds) {
    const Grid &rho = *solver.m_density;
    const Grid &target = *solver.m_target;
    const Grid &u = *solver.m_uCentre;
    const Grid &v = *solver.m_vCentre;
    const std::uint32_t n = rho.NumCols() - 2;

    double difference = 0.0;
    double targetSum = 0.0;
    double mass = 0.0;
    double maxSpeedSquared = 0.0;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            const double d = rho(i, j);
            const double speedSquared = u(i, j) * u(i, j) + v(i, j) * v(i, j);
            difference += std::fabs(d - target(i, j));
            targetSum += target(i, j);
            mass += d;
            if (speedSquared > maxSpeedSquared) {
                maxSpeedSquared = speedSquared;
            }
        }
    }

    StepMetrics metrics;
    metrics.step = step;
    metrics.distance = targetSum > 0.0 ? difference / targetSum : difference;
    metrics.mass = mass;
    metrics.maxSpeed = std::sqrt(maxSpeedSquared);
    metrics.seconds = seconds;
    metrics.finite = stateFinite(solver);
    metrics.substeps = step > 0 ? solver.lastSubsteps().total() : 0;
    if (step > 0) {
        metrics.advected = solver.lastTransport().advected;
        metrics.gathered = solver.lastTransport().gathered;
    }
    return metrics;
}

} // namespace velloran
