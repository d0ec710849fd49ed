#pragma once

// The layout of the literal pressure wavefront's scratch (kernels.h,
// pressureSweeps). Internal to the core.

#include "kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velloran {

// Lanes of the pressure wavefront: rows of one column of lanes, and the layout
// of h * divergence that gives every time step its lanes as one contiguous run.
// Rows of whole cache lines, so that most lane loads stay within one line.
inline std::size_t pressureLaneStride() {
    return (kernels::kPressureLanes + 1 + 7) / 8 * 8;
}

// The start of a buffer, rounded up to a 64-byte boundary (the buffer holds 8
// spare doubles for this).
inline double *cacheAligned(std::vector<double> &buffer) {
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t offset = (64 - address % 64) % 64;
    return buffer.data() + offset / sizeof(double);
}

inline int pressureSkewOrigin(std::uint32_t n) {
    return static_cast<int>(n + 2 * kernels::kPressureSweeps) / 2 + 1;
}

inline std::size_t pressureSkewStride(std::uint32_t n) {
    return static_cast<std::size_t>(pressureSkewOrigin(n) + kernels::kPressureLanes);
}

} // namespace velloran
