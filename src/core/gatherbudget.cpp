#include "gatherbudget.h"

#include <algorithm>

namespace velloran {

double gatheringAllowance(double credit, double advected, double dt) {
    const double spend = std::min(1.0, kCreditSpendRate * dt);
    return std::min(credit, kGatherPerStep * advected + spend * credit);
}

void scaleChangeBack(Grid &rho, const Grid &before, double s) {
    const std::uint32_t n = rho.NumCols() - 2;
    const double keep = 1.0 - s;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            rho(i, j) = keep * before(i, j) + s * rho(i, j);
        }
    }
}

} // namespace velloran
