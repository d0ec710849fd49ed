// The sound scheme's velocity transport kernels (soundkernels.h).

#include "soundlanes.h"

#include <algorithm>
#include <cstring>

namespace velloran::kernels {
namespace {

using namespace sound; // the lane helpers and load, store, splat, minOf, maxOf

// ---------------------------------------------------------------------------
// Momentum, x-component. Corner fluxes of corner row c (between cell rows c - 1
// and c), columns 2..n; cell fluxes of row j, columns 1..n.

template <int W> struct MomentumX {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const MomentumPlan p;
    std::size_t xs; // stride of u-shaped grids
    std::size_t cs; // stride of v-shaped grids

    template <int L> VELLORAN_INLINE void corner(int c, double *fk, int i) const {
        const double *q = p.q + i;
        const double *va = p.va + i;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(va - 1 + c * cs) + load<L>(va + c * cs));
        store<L>(fk + i, donorFlux<L>(load<L>(q + (c - 1) * xs), load<L>(q + c * xs), a));
    }
    template <int L> VELLORAN_INLINE void cell(int j, double *fc, int c) const {
        const double *q = p.q + j * xs + c;
        const double *ua = p.ua + j * xs + c;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(ua) + load<L>(ua + 1));
        store<L>(fc + c, donorFlux<L>(load<L>(q), load<L>(q + 1), a));
    }
    template <int L>
    VELLORAN_INLINE void update(int j, const double *fc, const double *bottom, const double *top,
                                int i) const {
        const Lanes<L> q = load<L>(p.q + j * xs + i);
        const Lanes<L> change =
            (load<L>(fc + i) - load<L>(fc + i - 1)) + (load<L>(top + i) - load<L>(bottom + i));
        store<L>(p.out + j * xs + i, q - splat<L>(p.lambda) * change);
    }

    VELLORAN_INLINE void cornerRow(int c, double *fk) const {
        const int n = p.n;
        if (c == 1 || c == n + 1) {
            std::fill(fk, fk + n + 2, 0.0);
            return;
        }
        int i = 2;
        for (; i + W <= n + 1; i += W) {
            corner<W>(c, fk, i);
        }
        for (; i <= n; ++i) {
            corner<1>(c, fk, i);
        }
    }

    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        const int n = p.n;
        double *scratch = p.scratch + static_cast<std::size_t>(part) * 3 * p.scratchStride;
        double *bottom = scratch;
        double *top = scratch + p.scratchStride;
        double *fc = scratch + 2 * p.scratchStride;
        cornerRow(begin, bottom);
        for (int j = begin; j < end; ++j) {
            cornerRow(j + 1, top);
            int c = 1;
            for (; c + W <= n + 1; c += W) {
                cell<W>(j, fc, c);
            }
            for (; c <= n; ++c) {
                cell<1>(j, fc, c);
            }
            int i = 2;
            for (; i + W <= n + 1; i += W) {
                update<W>(j, fc, bottom, top, i);
            }
            for (; i <= n; ++i) {
                update<1>(j, fc, bottom, top, i);
            }
            // The wall faces carry no flow and are never updated.
            double *out = p.out + j * xs;
            const double *q = p.q + j * xs;
            out[1] = q[1];
            out[n + 1] = q[n + 1];
            std::swap(bottom, top);
        }
    }
};

// Momentum, y-component. Cell fluxes of cell row c (between face rows c and
// c + 1), columns 1..n; corner fluxes of face row j, columns 2..n (0 at 1
// and n + 1).
template <int W> struct MomentumY {
    // A copy, so that the compiler can keep its pointers in registers:
    // stores through them might otherwise alias the caller's plan.
    const MomentumPlan p;
    std::size_t xs;
    std::size_t cs;

    template <int L> VELLORAN_INLINE void cell(int c, double *fc, int i) const {
        const double *q = p.q + i;
        const double *va = p.va + i;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(va + c * cs) + load<L>(va + (c + 1) * cs));
        store<L>(fc + i, donorFlux<L>(load<L>(q + c * cs), load<L>(q + (c + 1) * cs), a));
    }
    template <int L> VELLORAN_INLINE void corner(int j, double *fk, int i) const {
        const double *q = p.q + j * cs + i;
        const double *ua = p.ua + i;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(ua + (j - 1) * xs) + load<L>(ua + j * xs));
        store<L>(fk + i, donorFlux<L>(load<L>(q - 1), load<L>(q), a));
    }
    template <int L>
    VELLORAN_INLINE void update(int j, const double *bottom, const double *top, const double *fk,
                                int i) const {
        const Lanes<L> q = load<L>(p.q + j * cs + i);
        const Lanes<L> change =
            (load<L>(top + i) - load<L>(bottom + i)) + (load<L>(fk + i + 1) - load<L>(fk + i));
        store<L>(p.out + j * cs + i, q - splat<L>(p.lambda) * change);
    }

    VELLORAN_INLINE void cellRow(int c, double *fc) const {
        const int n = p.n;
        int i = 1;
        for (; i + W <= n + 1; i += W) {
            cell<W>(c, fc, i);
        }
        for (; i <= n; ++i) {
            cell<1>(c, fc, i);
        }
    }

    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        const int n = p.n;
        double *scratch = p.scratch + static_cast<std::size_t>(part) * 3 * p.scratchStride;
        double *bottom = scratch;
        double *top = scratch + p.scratchStride;
        double *fk = scratch + 2 * p.scratchStride;
        bool haveBottom = false;
        for (int j = begin; j < end; ++j) {
            double *out = p.out + j * cs;
            const double *q = p.q + j * cs;
            if (j == 1 || j == n + 1) {
                // Wall rows: no flow through them, never updated.
                std::copy(q + 1, q + n + 1, out + 1);
                haveBottom = false;
                continue;
            }
            if (!haveBottom) {
                cellRow(j - 1, bottom);
            }
            cellRow(j, top);
            fk[1] = 0.0;
            fk[n + 1] = 0.0;
            int i = 2;
            for (; i + W <= n + 1; i += W) {
                corner<W>(j, fk, i);
            }
            for (; i <= n; ++i) {
                corner<1>(j, fk, i);
            }
            i = 1;
            for (; i + W <= n + 1; i += W) {
                update<W>(j, bottom, top, fk, i);
            }
            for (; i <= n; ++i) {
                update<1>(j, bottom, top, fk, i);
            }
            std::swap(bottom, top);
            haveBottom = true;
        }
    }
};

struct MomentumXKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const MomentumPlan &plan, int begin, int end, int part) {
        MomentumX<W>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end, part);
    }
};
struct MomentumYKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const MomentumPlan &plan, int begin, int end, int part) {
        MomentumY<W>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end, part);
    }
};

} // namespace

void momentumXRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part) {
    LaneDispatch<MomentumXKernel>::run(level, plan, begin, end, part);
}
void momentumYRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part) {
    LaneDispatch<MomentumYKernel>::run(level, plan, begin, end, part);
}

} // namespace velloran::kernels
