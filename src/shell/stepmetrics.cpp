#include "stepmetrics.h"

#include "solver.h"

#include <cmath>
#include <utility>

namespace velloran {

bool stateFinite(const Solver &solver) {
    for (int field = 0; field < solver.smokeCount(); ++field) {
        if (!allFinite(solver.smokeDensity(field))) {
            return false;
        }
    }
    return allFinite(*solver.m_uCentre) && allFinite(*solver.m_vCentre);
}

namespace {

struct FieldSums {
    double difference = 0.0; // sum |rho - rho*|
    double targetSum = 0.0;  // sum rho*
    double mass = 0.0;       // sum rho
};

FieldSums sumsOf(const Grid &rho, const Grid &target) {
    const std::uint32_t n = rho.NumCols() - 2;
    FieldSums sums;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            const double d = rho(i, j);
            sums.difference += std::fabs(d - target(i, j));
            sums.targetSum += target(i, j);
            sums.mass += d;
        }
    }
    return sums;
}

double distanceOf(const FieldSums &sums) {
    return sums.targetSum > 0.0 ? sums.difference / sums.targetSum : sums.difference;
}

double largestSpeed(const Grid &u, const Grid &v) {
    const std::uint32_t n = u.NumCols() - 2;
    double maxSpeedSquared = 0.0;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            const double speedSquared = u(i, j) * u(i, j) + v(i, j) * v(i, j);
            if (speedSquared > maxSpeedSquared) {
                maxSpeedSquared = speedSquared;
            }
        }
    }
    return std::sqrt(maxSpeedSquared);
}

} // namespace

StepMetrics measure(const Solver &solver, int step, double seconds) {
    FieldSums all = sumsOf(solver.smokeDensity(0), solver.smokeTarget(0));
    std::vector<double> fieldDistances;
    if (solver.smokeCount() > 1) {
        fieldDistances.push_back(distanceOf(all));
        for (int field = 1; field < solver.smokeCount(); ++field) {
            const FieldSums sums = sumsOf(solver.smokeDensity(field), solver.smokeTarget(field));
            fieldDistances.push_back(distanceOf(sums));
            all.difference += sums.difference;
            all.targetSum += sums.targetSum;
            all.mass += sums.mass;
        }
    }

    StepMetrics metrics;
    metrics.step = step;
    metrics.distance = distanceOf(all);
    metrics.mass = all.mass;
    metrics.maxSpeed = largestSpeed(*solver.m_uCentre, *solver.m_vCentre);
    metrics.fieldDistances = std::move(fieldDistances);
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
