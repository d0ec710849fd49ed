// What a step's stages moved (scheme.h, TransportAmounts): the density copied
// before a stage and the sum of |change| taken after it. Only reads the state.

#include "solver.h"

#include <cmath>
#include <memory>

void Solver::setTransportMeasured(bool measured) {
    if (!measured) {
        m_densityBefore.reset();
        return;
    }
    if (!m_densityBefore) {
        m_densityBefore = std::make_unique<Grid>(m_density->NumRows(), m_density->NumCols());
    }
}

void Solver::snapshotDensity() {
    if (m_densityBefore) {
        *m_densityBefore = *m_density;
    }
}

// Sum over the interior of |rho - rho before|, columns outer and rows inner;
// 0 when not measuring.
double Solver::densityChange() const {
    if (!m_densityBefore) {
        return 0.0;
    }
    const Grid &now = *m_density;
    const Grid &before = *m_densityBefore;
    const std::uint32_t n = now.NumCols() - 2;
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            sum += std::fabs(now(i, j) - before(i, j));
        }
    }
    return sum;
}
