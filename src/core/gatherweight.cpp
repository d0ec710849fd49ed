#include "gatherweight.h"

#include <algorithm>

namespace velloran {

double gatherWeightSigma(std::uint32_t n, double sigma) {
    return std::max(sigma, 3.0 * static_cast<double>(n) / 128.0);
}

void matchBlurScale(Grid &weight, const std::vector<double> &narrow,
                    const std::vector<double> &wide) {
    double narrowSum = 0.0;
    for (const double k : narrow) {
        narrowSum += k;
    }
    double wideSum = 0.0;
    for (const double k : wide) {
        wideSum += k;
    }
    const double ratio = narrowSum / wideSum;
    const double scale = ratio * ratio;
    double *entry = weight.data();
    const std::size_t count = static_cast<std::size_t>(weight.NumRows()) * weight.NumCols();
    for (std::size_t k = 0; k < count; ++k) {
        entry[k] = entry[k] * scale;
    }
}

} // namespace velloran
