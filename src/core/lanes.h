#pragma once

// Lanes: the small vector vocabulary of the hot kernels.
//
// A kernel is written once as a template over the lane count W and compiled
// three times: W = 2 for the SSE2 baseline every x86-64 machine has, W = 4 in a
// function built for AVX2 and W = 8 in one built for AVX-512, chosen at run
// time. Every lane performs exactly the
// operations the scalar code performs on one value, in the same order:
// vectorising runs across neighbouring outputs, never inside a sum. Neither
// target enables fused multiply-add and the whole build uses -ffp-contract=off,
// so both give the same bits.

#include "simdlevel.h"

#include <cstdint>
#include <cstring>

#define VELLORAN_INLINE inline __attribute__((always_inline))

namespace velloran {
namespace lanes {

template <int W> struct Vec {
    typedef double V __attribute__((vector_size(W * sizeof(double))));
    typedef std::int64_t M __attribute__((vector_size(W * sizeof(double))));
};

template <int W> VELLORAN_INLINE typename Vec<W>::V load(const double *p) {
    typename Vec<W>::V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <int W> VELLORAN_INLINE void store(double *p, typename Vec<W>::V v) {
    std::memcpy(p, &v, sizeof v);
}

// x in every lane. Built as a shuffle of a vector that holds x in lane 0, so
// GCC 12 emits a single broadcast for 4 and 8 lanes; built element by element
// it spends one masked move per lane on 8 lanes and two shuffles on 4. The
// shuffle is plain C++ with no instruction or register named, so it compiles
// in every build type and with Clang, wherever the kernel that uses it ends up
// (a lambda left out of line is compiled without the wide instruction set).
template <int W> VELLORAN_INLINE typename Vec<W>::V splat(double x) {
#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
    if constexpr (W == 8) {
        const typename Vec<4>::V first = {x};
        return __builtin_shufflevector(first, first, 0, 0, 0, 0, 0, 0, 0, 0);
    } else if constexpr (W == 4) {
        const typename Vec<2>::V first = {x};
        return __builtin_shufflevector(first, first, 0, 0, 0, 0);
    }
#endif
#endif
    typename Vec<W>::V v;
    for (int k = 0; k < W; ++k) {
        v[k] = x;
    }
    return v;
}

// std::fabs on every lane: clears the sign bit, nothing else.
template <int W> VELLORAN_INLINE typename Vec<W>::V abs(typename Vec<W>::V v) {
    using M = typename Vec<W>::M;
    const M mask = (M{} + 1) * INT64_MAX;
    return reinterpret_cast<typename Vec<W>::V>(reinterpret_cast<M>(v) & mask);
}

// std::min(a, b) on every lane, with its exact rule: b only if b < a.
template <int W>
VELLORAN_INLINE typename Vec<W>::V minOf(typename Vec<W>::V a, typename Vec<W>::V b) {
    return b < a ? b : a;
}

// std::max(a, b) on every lane, with its exact rule: b only if a < b.
template <int W>
VELLORAN_INLINE typename Vec<W>::V maxOf(typename Vec<W>::V a, typename Vec<W>::V b) {
    return a < b ? b : a;
}

// The transport terms of one face: the upwind product P = donor * a and the
// limited correction C = (1 - lambda |a|) * minmod of the three differences
// around the face. q0 and q1 are the values on the low and the high side, qm1
// and q2 the next ones outwards, a the speed on the face. A cell's flux
// difference is ((P_high - P_low) + C_high) - C_low, which is exactly the
// limited upwind flux of the cell: its high face is the low face of the next
// cell, with the same arguments in the same order.
template <int W>
VELLORAN_INLINE void faceTerms(typename Vec<W>::V qm1, typename Vec<W>::V q0, typename Vec<W>::V q1,
                               typename Vec<W>::V q2, typename Vec<W>::V a,
                               typename Vec<W>::V lambda, typename Vec<W>::V &p,
                               typename Vec<W>::V &c) {
    using V = typename Vec<W>::V;
    const V zero{};
    const V one = splat<W>(1.0);
    const V minusOne = splat<W>(-1.0);
    p = (a > zero ? q0 : q1) * a;
    const V x = q2 - q1;
    const V y = q1 - q0;
    const V z = q0 - qm1;
    const auto positive = (x > zero) & (y > zero) & (z > zero);
    const auto negative = (x < zero) & (y < zero) & (z < zero);
    const V sign = positive ? one : (negative ? minusOne : zero);
    const V limited = sign * minOf<W>(minOf<W>(abs<W>(x), abs<W>(y)), abs<W>(z));
    c = (one - lambda * abs<W>(a)) * limited;
}

} // namespace lanes
} // namespace velloran
