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

// Rows from the bottom, each from left to right: the order every figure of
// metrics.csv has been summed in, so that the files stay the same to the bit.
// The three running sums cannot be split into lanes without changing them;
// walking the rows through pointers lets them advance side by side, one cell
// per add latency.
FieldSums sumsOf(const Grid &rho, const Grid &target) {
    VELLORAN_CHECK(rho.NumCols() == target.NumCols() && rho.NumRows() == target.NumRows());
    const std::uint32_t n = rho.NumCols() - 2;
    VELLORAN_CHECK(n + 2 <= rho.NumRows());
    FieldSums sums;
    for (std::uint32_t j = 1; j <= n; ++j) {
        const double *density = rho.data() + static_cast<std::size_t>(j) * rho.NumCols();
        const double *goal = target.data() + static_cast<std::size_t>(j) * target.NumCols();
        for (std::uint32_t i = 1; i <= n; ++i) {
            sums.difference += std::fabs(density[i] - goal[i]);
            sums.targetSum += goal[i];
            sums.mass += density[i];
        }
    }
    return sums;
}

double distanceOf(const FieldSums &sums) {
    return sums.targetSum > 0.0 ? sums.difference / sums.targetSum : sums.difference;
}

// The largest squared speed is the same whatever order the cells are looked at
// in (a value replaces the running largest only when strictly greater, so NaN
// is never chosen), so it is looked for in independent lanes, merged by the
// same rule at the end.
double largestSpeed(const Grid &u, const Grid &v) {
    VELLORAN_CHECK(u.NumCols() == v.NumCols() && u.NumRows() == v.NumRows());
    const std::uint32_t n = u.NumCols() - 2;
    VELLORAN_CHECK(n + 2 <= u.NumRows());
    constexpr std::uint32_t kLanes = 4;
    double largest[kLanes] = {};
    for (std::uint32_t j = 1; j <= n; ++j) {
        const double *x = u.data() + static_cast<std::size_t>(j) * u.NumCols();
        const double *y = v.data() + static_cast<std::size_t>(j) * v.NumCols();
        std::uint32_t i = 1;
        for (; i + kLanes <= n + 1; i += kLanes) {
            for (std::uint32_t lane = 0; lane < kLanes; ++lane) {
                const double speedSquared = x[i + lane] * x[i + lane] + y[i + lane] * y[i + lane];
                largest[lane] = speedSquared > largest[lane] ? speedSquared : largest[lane];
            }
        }
        for (; i <= n; ++i) {
            const double speedSquared = x[i] * x[i] + y[i] * y[i];
            largest[0] = speedSquared > largest[0] ? speedSquared : largest[0];
        }
    }
    double maxSpeedSquared = 0.0;
    for (const double lane : largest) {
        maxSpeedSquared = lane > maxSpeedSquared ? lane : maxSpeedSquared;
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
