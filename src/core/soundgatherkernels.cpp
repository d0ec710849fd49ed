// The sound scheme's explicit gathering kernels (soundkernels.h).

#include "soundlanes.h"

#include <algorithm>
#include <cstring>

namespace velloran::kernels {
namespace {

using namespace sound; // the lane helpers and load, store, splat, minOf, maxOf

// ---------------------------------------------------------------------------
// Gathering

template <int W> struct GatherRate {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const GatherPlan p;
    std::size_t xs;
    std::size_t cs;

    // One face's part of K for the cell: rate ((d - dNext)+ + max(r, rNext)).
    template <int L>
    static VELLORAN_INLINE Lanes<L> term(Lanes<L> rate, Lanes<L> d, Lanes<L> dNext, Lanes<L> r,
                                         Lanes<L> rNext) {
        return rate * (positivePart<L>(d - dNext) + maxOf<L>(r, rNext));
    }

    // Cells whose west and east faces are both interior: columns 2..n-1.
    template <int L> VELLORAN_INLINE Lanes<L> inner(int j, int i, bool below, bool above) const {
        const double *d = p.diff + j * cs + i;
        const double *r = p.rho + j * cs + i;
        const Lanes<L> dc = load<L>(d);
        const Lanes<L> rc = load<L>(r);
        Lanes<L> k{};
        k = k + term<L>(load<L>(p.rateX + j * xs + i), dc, load<L>(d - 1), rc, load<L>(r - 1));
        k = k + term<L>(load<L>(p.rateX + j * xs + i + 1), dc, load<L>(d + 1), rc, load<L>(r + 1));
        if (below) {
            k = k +
                term<L>(load<L>(p.rateY + j * cs + i), dc, load<L>(d - cs), rc, load<L>(r - cs));
        }
        if (above) {
            k = k + term<L>(load<L>(p.rateY + (j + 1) * cs + i), dc, load<L>(d + cs), rc,
                            load<L>(r + cs));
        }
        return k;
    }

    // A cell in the first or last column: the wall side has no face.
    VELLORAN_INLINE double edge(int j, int i, bool below, bool above) const {
        const int n = p.n;
        const double *d = p.diff + j * cs + i;
        const double *r = p.rho + j * cs + i;
        const Lanes<1> dc = load<1>(d);
        const Lanes<1> rc = load<1>(r);
        Lanes<1> k{};
        if (i > 1) {
            k = k + term<1>(load<1>(p.rateX + j * xs + i), dc, load<1>(d - 1), rc, load<1>(r - 1));
        }
        if (i < n) {
            k = k +
                term<1>(load<1>(p.rateX + j * xs + i + 1), dc, load<1>(d + 1), rc, load<1>(r + 1));
        }
        if (below) {
            k = k +
                term<1>(load<1>(p.rateY + j * cs + i), dc, load<1>(d - cs), rc, load<1>(r - cs));
        }
        if (above) {
            k = k + term<1>(load<1>(p.rateY + (j + 1) * cs + i), dc, load<1>(d + cs), rc,
                            load<1>(r + cs));
        }
        return k[0];
    }

    VELLORAN_INLINE Extent rows(int begin, int end) const {
        const int n = p.n;
        LaneExtent<W> extent;
        for (int j = begin; j < end; ++j) {
            const bool below = j > 1;
            const bool above = j < n;
            extent.template add<1>(Lanes<1>{edge(j, 1, below, above)});
            if (n > 1) {
                int i = 2;
                for (; i + W <= n; i += W) {
                    extent.template add<W>(inner<W>(j, i, below, above));
                }
                for (; i <= n - 1; ++i) {
                    extent.template add<1>(inner<1>(j, i, below, above));
                }
                extent.template add<1>(Lanes<1>{edge(j, n, below, above)});
            }
        }
        return extent.result();
    }
};

template <int W> struct GatherUpdate {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const GatherPlan p;
    std::size_t xs;
    std::size_t cs;

    template <int L> VELLORAN_INLINE void xFace(int j, double *gx, int i) const {
        const double *d = p.diff + j * cs + i;
        const double *r = p.rho + j * cs + i;
        store<L>(gx + i, gatherFlux<L>(load<L>(p.coefX + j * xs + i), load<L>(d - 1), load<L>(d),
                                       load<L>(r - 1), load<L>(r)));
    }
    template <int L> VELLORAN_INLINE void yFace(int f, double *gy, int i) const {
        const double *d = p.diff + f * cs + i;
        const double *r = p.rho + f * cs + i;
        store<L>(gy + i, gatherFlux<L>(load<L>(p.coefY + f * cs + i), load<L>(d - cs), load<L>(d),
                                       load<L>(r - cs), load<L>(r)));
    }
    template <int L>
    VELLORAN_INLINE void update(int j, const double *gx, const double *bottom, const double *top,
                                int i) const {
        const Lanes<L> r = load<L>(p.rho + j * cs + i);
        const Lanes<L> change =
            (load<L>(gx + i + 1) - load<L>(gx + i)) + (load<L>(top + i) - load<L>(bottom + i));
        const Lanes<L> next = r - splat<L>(p.lambda) * change;
        store<L>(p.rhoOut + j * cs + i, next);
        store<L>(p.diffOut + j * cs + i, next - load<L>(p.target + j * cs + i));
    }

    VELLORAN_INLINE void yRow(int f, double *gy) const {
        const int n = p.n;
        if (f == 1 || f == n + 1) {
            std::fill(gy, gy + n + 2, 0.0);
            return;
        }
        int i = 1;
        for (; i + W <= n + 1; i += W) {
            yFace<W>(f, gy, i);
        }
        for (; i <= n; ++i) {
            yFace<1>(f, gy, i);
        }
    }

    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        const int n = p.n;
        double *scratch = p.scratch + static_cast<std::size_t>(part) * 3 * p.scratchStride;
        double *bottom = scratch;
        double *top = scratch + p.scratchStride;
        double *gx = scratch + 2 * p.scratchStride;
        yRow(begin, bottom);
        for (int j = begin; j < end; ++j) {
            yRow(j + 1, top);
            gx[1] = 0.0;
            gx[n + 1] = 0.0;
            int i = 2;
            for (; i + W <= n + 1; i += W) {
                xFace<W>(j, gx, i);
            }
            for (; i <= n; ++i) {
                xFace<1>(j, gx, i);
            }
            i = 1;
            for (; i + W <= n + 1; i += W) {
                update<W>(j, gx, bottom, top, i);
            }
            for (; i <= n; ++i) {
                update<1>(j, gx, bottom, top, i);
            }
            std::swap(bottom, top);
        }
    }
};

struct GatherRateKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const GatherPlan &plan, int begin, int end, Extent *out) {
        *out = GatherRate<W>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end);
    }
};
struct GatherUpdateKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const GatherPlan &plan, int begin, int end, int part) {
        GatherUpdate<W>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end, part);
    }
};

} // namespace

Extent gatherRateRows(SimdLevel level, const GatherPlan &plan, int begin, int end) {
    Extent extent;
    Extent *out = &extent;
    LaneDispatch<GatherRateKernel>::run(level, plan, begin, end, out);
    return extent;
}
void gatherUpdateRows(SimdLevel level, const GatherPlan &plan, int begin, int end, int part) {
    LaneDispatch<GatherUpdateKernel>::run(level, plan, begin, end, part);
}

} // namespace velloran::kernels
