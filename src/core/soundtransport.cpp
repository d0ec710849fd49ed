// The sound scheme's density transport and outflow kernels (soundkernels.h).

#include "soundlanes.h"

#include <algorithm>
#include <cstring>

namespace velloran::kernels {
namespace {

using namespace sound; // the lane helpers and load, store, splat, minOf, maxOf

// ---------------------------------------------------------------------------
// Density transport. x-fluxes of row j on faces 2..n (0 on the walls); y-fluxes
// of face row f (between cell rows f - 1 and f) on columns 1..n, 0 on the
// walls f = 1 and f = n + 1. Limited: the second-order flux; else donor cell.

template <int W, bool Limited> struct DensityTransport {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const DensityTransportPlan p;
    std::size_t xs;
    std::size_t cs;

    template <int L> VELLORAN_INLINE void xFace(int j, double *fx, int i) const {
        const double *q = p.q + j * cs + i;
        const Lanes<L> a = load<L>(p.u + j * xs + i);
        if constexpr (Limited) {
            store<L>(fx + i, smokeFlux<L>(load<L>(q - 2), load<L>(q - 1), load<L>(q),
                                          load<L>(q + 1), a, splat<L>(p.lambda)));
        } else {
            store<L>(fx + i, donorFlux<L>(load<L>(q - 1), load<L>(q), a));
        }
    }
    template <int L> VELLORAN_INLINE void yFace(int f, double *fy, int i) const {
        const double *q = p.q + i;
        const Lanes<L> a = load<L>(p.v + f * cs + i);
        if constexpr (Limited) {
            store<L>(fy + i, smokeFlux<L>(load<L>(q + (f - 2) * cs), load<L>(q + (f - 1) * cs),
                                          load<L>(q + f * cs), load<L>(q + (f + 1) * cs), a,
                                          splat<L>(p.lambda)));
        } else {
            store<L>(fy + i, donorFlux<L>(load<L>(q + (f - 1) * cs), load<L>(q + f * cs), a));
        }
    }
    template <int L>
    VELLORAN_INLINE void update(int j, const double *fx, const double *bottom, const double *top,
                                int i) const {
        const Lanes<L> q = load<L>(p.q + j * cs + i);
        const Lanes<L> change =
            (load<L>(fx + i + 1) - load<L>(fx + i)) + (load<L>(top + i) - load<L>(bottom + i));
        store<L>(p.out + j * cs + i, q - splat<L>(p.lambda) * change);
    }

    VELLORAN_INLINE void yRow(int f, double *fy) const {
        const int n = p.n;
        if (f == 1 || f == n + 1) {
            std::fill(fy, fy + n + 2, 0.0);
            return;
        }
        int i = 1;
        for (; i + W <= n + 1; i += W) {
            yFace<W>(f, fy, i);
        }
        for (; i <= n; ++i) {
            yFace<1>(f, fy, i);
        }
    }

    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        const int n = p.n;
        double *scratch = p.scratch + static_cast<std::size_t>(part) * 3 * p.scratchStride;
        double *bottom = scratch;
        double *top = scratch + p.scratchStride;
        double *fx = scratch + 2 * p.scratchStride;
        yRow(begin, bottom);
        for (int j = begin; j < end; ++j) {
            yRow(j + 1, top);
            fx[1] = 0.0;
            fx[n + 1] = 0.0;
            int i = 2;
            for (; i + W <= n + 1; i += W) {
                xFace<W>(j, fx, i);
            }
            for (; i <= n; ++i) {
                xFace<1>(j, fx, i);
            }
            i = 1;
            for (; i + W <= n + 1; i += W) {
                update<W>(j, fx, bottom, top, i);
            }
            for (; i <= n; ++i) {
                update<1>(j, fx, bottom, top, i);
            }
            std::swap(bottom, top);
        }
    }
};

// ---------------------------------------------------------------------------
// Largest outflow sums

template <int W> struct Outflow {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const OutflowPlan p;
    std::size_t xs;
    std::size_t cs;

    template <int L> VELLORAN_INLINE Lanes<L> cell(int j, int i) const {
        const double *u = p.u + j * xs + i;
        const double *v = p.v + j * cs + i;
        return positivePart<L>(load<L>(u + 1)) + positivePart<L>(-load<L>(u)) +
               positivePart<L>(load<L>(v + cs)) + positivePart<L>(-load<L>(v));
    }
    template <int L> VELLORAN_INLINE Lanes<L> uVolume(int j, int i) const {
        const double *u = p.u + j * xs + i;
        const double *v = p.v + j * cs + i;
        const Lanes<L> half = splat<L>(0.5);
        const Lanes<L> east = half * (load<L>(u) + load<L>(u + 1));
        const Lanes<L> west = half * (load<L>(u - 1) + load<L>(u));
        const Lanes<L> north = half * (load<L>(v + cs - 1) + load<L>(v + cs));
        const Lanes<L> south = half * (load<L>(v - 1) + load<L>(v));
        return positivePart<L>(east) + positivePart<L>(-west) + positivePart<L>(north) +
               positivePart<L>(-south);
    }
    template <int L> VELLORAN_INLINE Lanes<L> vVolume(int j, int i) const {
        const double *u = p.u + j * xs + i;
        const double *v = p.v + j * cs + i;
        const Lanes<L> half = splat<L>(0.5);
        const Lanes<L> north = half * (load<L>(v) + load<L>(v + cs));
        const Lanes<L> south = half * (load<L>(v - cs) + load<L>(v));
        const Lanes<L> east = half * (load<L>(u + 1 - xs) + load<L>(u + 1));
        const Lanes<L> west = half * (load<L>(u - xs) + load<L>(u));
        return positivePart<L>(north) + positivePart<L>(-south) + positivePart<L>(east) +
               positivePart<L>(-west);
    }

    enum class Kind { Cell, UVolume, VVolume };
    VELLORAN_INLINE Extent rows(Kind kind, int begin, int end) const {
        const int n = p.n;
        const int first = kind == Kind::UVolume ? 2 : 1;
        LaneExtent<W> extent;
        for (int j = begin; j < end; ++j) {
            int i = first;
            for (; i + W <= n + 1; i += W) {
                extent.template add<W>(kind == Kind::Cell      ? cell<W>(j, i)
                                       : kind == Kind::UVolume ? uVolume<W>(j, i)
                                                               : vVolume<W>(j, i));
            }
            for (; i <= n; ++i) {
                extent.template add<1>(kind == Kind::Cell      ? cell<1>(j, i)
                                       : kind == Kind::UVolume ? uVolume<1>(j, i)
                                                               : vVolume<1>(j, i));
            }
        }
        return extent.result();
    }
};

template <bool Limited> struct DensityTransportKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const DensityTransportPlan &plan, int begin, int end,
                                    int part) {
        DensityTransport<W, Limited>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end,
                                                                                     part);
    }
};
template <int Which> struct OutflowKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const OutflowPlan &plan, int begin, int end, Extent *out) {
        using Kind = typename Outflow<W>::Kind;
        *out = Outflow<W>{plan, uStride(plan.n), cellStride(plan.n)}.rows(static_cast<Kind>(Which),
                                                                          begin, end);
    }
};

} // namespace

void densityTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                          int part) {
    LaneDispatch<DensityTransportKernel<true>>::run(level, plan, begin, end, part);
}
void donorTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                        int part) {
    LaneDispatch<DensityTransportKernel<false>>::run(level, plan, begin, end, part);
}
Extent cellOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end) {
    Extent extent;
    Extent *out = &extent;
    LaneDispatch<OutflowKernel<0>>::run(level, plan, begin, end, out);
    return extent;
}
Extent uVolumeOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end) {
    Extent extent;
    Extent *out = &extent;
    LaneDispatch<OutflowKernel<1>>::run(level, plan, begin, end, out);
    return extent;
}
Extent vVolumeOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end) {
    Extent extent;
    Extent *out = &extent;
    LaneDispatch<OutflowKernel<2>>::run(level, plan, begin, end, out);
    return extent;
}

} // namespace velloran::kernels
