#pragma once

// ReferenceBlurFilter: the literal twin of BlurFilter, kept as the yardstick
// for the fast filter. Plain loops through the checked accessors, in exactly the
// order the blur is defined; slow on purpose and never to be optimised.
//
// A sampled Gaussian of width sigma (in cells), applied as two
// one-dimensional passes (rows, then columns).
//
// The kernel reaches 40 sigma to each side and is deliberately not normalised:
// the weights are the Gaussian density at integer offsets. Positions outside the
// grid count as 0 and the weights are not renormalised near the edges, so a
// blurred field falls off towards the border. Every output value carries a
// floor of 1e-256, which keeps later divisions by blurred values finite.
//
// The convolution is exact and direct with the full kernel: the far tail is what
// drives smoke that is far away from the target.

#include "grid.h"

#include <cstdint>
#include <vector>

class ReferenceBlurFilter {
public:
    ReferenceBlurFilter() = default;

    // Builds the kernel for width sigma; replaces any previous kernel.
    // Ends the program unless sigma > 0.
    void setSigma(double sigma);

    // Writes the blur of src into dst; both must have the same shape. src may
    // be the same grid as dst: it is read completely before dst is written.
    void apply(const Grid &src, Grid &dst);

    std::int32_t radius() const { return m_radius; }
    const std::vector<double> &kernel() const { return m_kernel; }

private:
    std::int32_t m_radius = 0;
    std::vector<double> m_kernel; // 2r + 1 weights; index k stands for offset k - r
};
