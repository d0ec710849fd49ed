#pragma once

// The weight of the sound scheme's gathering flux. The gathering moves smoke
// across a face in proportion to the blurred target there; blurred with the
// run's sigma (a cell or two), that weight is nearly zero in the gaps between
// separate parts of a target (the letters of a word), so smoke that reached
// the wrong letter stays there for thousands of steps. The weight is
// therefore the target blurred at least 3/128 of the domain wide (3 cells at
// 128 x 128, 6 at 256), scaled to the run's blur: the same weight inside a
// broad shape, reaching across the gaps. Measured at 128, 4000 steps: disc
// into the word SMOKE 0.158 -> 0.092, noise into a ring 0.085 -> 0.077,
// disc into A unchanged.

#include "grid.h"

#include <cstdint>
#include <vector>

namespace velloran {

// The blur width (cells) of the gathering weight on an N x N grid whose run
// blurs with `sigma`: never narrower than the run's own blur.
double gatherWeightSigma(std::uint32_t n, double sigma);

// Multiplies every entry of `weight`, blurred with the kernel `wide`, by
// (sum of `narrow` / sum of `wide`)^2, so that where the target is flat over
// both kernels it equals the blur with `narrow` (both passes of the blur sum
// their kernel once). Each sum runs in kernel order.
void matchBlurScale(Grid &weight, const std::vector<double> &narrow,
                    const std::vector<double> &wide);

} // namespace velloran
