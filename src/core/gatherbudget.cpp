#include "gatherbudget.h"

#include "lattice.h"
#include "stepping.h"

#include <algorithm>

namespace velloran {

double gatheringAllowance(double credit, double advected, double dt) {
    const double spend = std::min(1.0, kCreditSpendRate * dt);
    return std::min(credit, kGatherPerStep * advected + spend * credit);
}

void scaleChangeBack(Stepping &stepping, Grid &rho, const Grid &before, double s) {
    const std::uint32_t n = rho.NumCols() - 2;
    const double keep = 1.0 - s;
    stepping.forSimpleRows(1, static_cast<int>(n) + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *b = rowOf(before, j);
            double *r = rowOf(rho, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                r[i] = keep * b[i] + s * r[i];
            }
        }
    });
}

} // namespace velloran
