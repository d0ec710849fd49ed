#pragma once

// How the sound scheme's stages choose their sub-cycles. Internal to the core.

#include "grid.h"
#include "scheme.h"
#include "soundkernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velloran {

constexpr double kAdvectionCourant = 0.5; // outflow Courant number of one sub-cycle
constexpr double kGatheringLimit = 1.0;   // dt_s * max K of one gathering sub-step

// The largest value, or NaN when any was NaN (the flow has blown up).
inline double largestOf(const kernels::Extent &extent) {
    return extent.nan ? std::nan("") : extent.largest;
}

// Sub-cycles that keep the outflow Courant number lambda * S at or below the
// limit; 0 when that would exceed the cap or S is not a number.
inline int advectionSubcycles(double lambda, double largestOutflow) {
    const double cycles = std::ceil(lambda * largestOutflow / kAdvectionCourant);
    if (!(cycles <= static_cast<double>(kMaxSubcycles))) {
        return 0;
    }
    return std::max(1, static_cast<int>(cycles));
}

// Copies the interior rows 1..rows-2 of src into dst (same shape), frame left alone.
inline void copyInterior(const Grid &src, Grid &dst) {
    const std::uint32_t cols = src.NumCols();
    for (std::uint32_t j = 1; j + 1 < src.NumRows(); ++j) {
        const double *from = src.data() + static_cast<std::size_t>(j) * cols;
        std::copy(from + 1, from + cols - 1, dst.data() + static_cast<std::size_t>(j) * cols + 1);
    }
}

} // namespace velloran
