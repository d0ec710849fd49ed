#include "targetdistance.h"

#include <cmath>

double distanceToTarget(const Grid &density, const Grid &target) {
    VELLORAN_CHECK(density.NumRows() == target.NumRows());
    VELLORAN_CHECK(density.NumCols() == target.NumCols());
    if (density.NumCols() < 3 || density.NumRows() < 3) {
        return 0.0;
    }
    const std::uint32_t columns = density.NumCols() - 2;
    const std::uint32_t rows = density.NumRows() - 2;
    double difference = 0.0;
    double targetSum = 0.0;
    for (std::uint32_t j = 1; j <= rows; ++j) {
        const double *rho = density.data() + static_cast<std::size_t>(j) * density.NumCols();
        const double *goal = target.data() + static_cast<std::size_t>(j) * target.NumCols();
        for (std::uint32_t i = 1; i <= columns; ++i) {
            difference += std::fabs(rho[i] - goal[i]);
            targetSum += goal[i];
        }
    }
    return targetSum > 0.0 ? difference / targetSum : difference;
}
