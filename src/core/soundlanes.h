#pragma once

// The lane helpers the sound scheme's kernels share: the face fluxes, the
// running extents and the strides of the lattice's grids. Internal to the
// core, included by the soundkernels files only.

#include "lanedispatch.h"
#include "soundkernels.h"

#include <algorithm>
#include <cstddef>

namespace velloran::kernels::sound {

using lanes::load;
using lanes::maxOf;
using lanes::minOf;
using lanes::splat;
using lanes::store;

template <int W> using Lanes = typename lanes::Vec<W>::V;

// The superbee limiter's slope for the difference `across` a face, given the
// difference `up` behind the donor cell: 0 unless both have one sign, else
// that sign times max(min(2|up|, |across|), min(|up|, 2|across|)) (as the
// scalar reference superbeeSlope computes it).
template <int W> VELLORAN_INLINE Lanes<W> superbeeSlope(Lanes<W> up, Lanes<W> across) {
    const Lanes<W> zero{};
    const Lanes<W> two = splat<W>(2.0);
    const auto sameSign = ((up > zero) & (across > zero)) | ((up < zero) & (across < zero));
    const Lanes<W> upSize = lanes::abs<W>(up);
    const Lanes<W> acrossSize = lanes::abs<W>(across);
    const Lanes<W> size =
        maxOf<W>(minOf<W>(two * upSize, acrossSize), minOf<W>(upSize, two * acrossSize));
    return sameSign ? (across > zero ? size : zero - size) : zero;
}

// The smoke's flux through a face of speed a: upwind plus the correction
// limited by the superbee limiter, a+ qL + a- qR + (1/2)|a| (1 - lambda |a|)
// superbeeSlope(up, across), up the difference behind the donor cell, across
// qR - qL. It keeps the smoke's edges and strands as sharp as the flow
// leaves them: every bit of smear the limiter adds becomes haze that no
// incompressible flow can thicken again and the gathering has to undo
// (docs/method.md).
template <int W>
VELLORAN_INLINE Lanes<W> smokeFlux(Lanes<W> qLL, Lanes<W> qL, Lanes<W> qR, Lanes<W> qRR, Lanes<W> a,
                                   Lanes<W> lambda) {
    const Lanes<W> zero{};
    const Lanes<W> speed = lanes::abs<W>(a);
    const Lanes<W> up = a > zero ? qL - qLL : qRR - qR;
    return maxOf<W>(a, zero) * qL + minOf<W>(a, zero) * qR +
           splat<W>(0.5) * speed * (splat<W>(1.0) - lambda * speed) * superbeeSlope<W>(up, qR - qL);
}

// Donor-cell flux through a face of speed a: a+ qL + a- qR.
template <int W> VELLORAN_INLINE Lanes<W> donorFlux(Lanes<W> qL, Lanes<W> qR, Lanes<W> a) {
    const Lanes<W> zero{};
    return maxOf<W>(a, zero) * qL + minOf<W>(a, zero) * qR;
}

// Donor-cell gathering flux through a face whose sides differ by dLow - dHigh
// from the target: w = coef (dLow - dHigh), carrying the density it leaves.
template <int W>
VELLORAN_INLINE Lanes<W> gatherFlux(Lanes<W> coef, Lanes<W> dLow, Lanes<W> dHigh, Lanes<W> rLow,
                                    Lanes<W> rHigh) {
    const Lanes<W> zero{};
    const Lanes<W> w = coef * (dLow - dHigh);
    return maxOf<W>(w, zero) * rLow + minOf<W>(w, zero) * rHigh;
}

template <int W> VELLORAN_INLINE Lanes<W> positivePart(Lanes<W> x) {
    return maxOf<W>(x, Lanes<W>{});
}

// Running largest values and NaN flags per lane; top only ever takes a
// strictly greater value, as the scalar rule does, so lanes that saw no NaN
// hold the largest of their values (0 to start with).
template <int W> struct LaneExtent {
    Lanes<W> top{};
    Lanes<W> nan{};

    template <int L> VELLORAN_INLINE void add(Lanes<L> k);
    VELLORAN_INLINE Extent result() const {
        Extent extent;
        for (int m = 0; m < W; ++m) {
            if (nan[m] != 0.0) {
                extent.nan = true;
            }
            if (extent.largest < top[m]) {
                extent.largest = top[m];
            }
        }
        return extent;
    }
};

template <int W> template <int L> VELLORAN_INLINE void LaneExtent<W>::add(Lanes<L> k) {
    if constexpr (L == W) {
        top = maxOf<W>(top, k);
        nan = (k != k) ? splat<W>(1.0) : nan;
    } else {
        static_assert(L == 1, "one lane or all of them");
        const double value = k[0];
        if (value != value) {
            nan[0] = 1.0;
        } else if (top[0] < value) {
            top[0] = value;
        }
    }
}

inline std::size_t uStride(int n) {
    return static_cast<std::size_t>(n) + 3;
}
inline std::size_t cellStride(int n) {
    return static_cast<std::size_t>(n) + 2;
}

} // namespace velloran::kernels::sound
