#include "soundkernels.h"

#include "lanedispatch.h"

#include <algorithm>
#include <cstring>

namespace velloran::kernels {
namespace {

using lanes::load;
using lanes::maxOf;
using lanes::minOf;
using lanes::splat;
using lanes::store;

template <int W> using Lanes = typename lanes::Vec<W>::V;

// minmod of three differences: the smallest magnitude when all three have
// the same sign, else zero (sign times the smallest magnitude, as the scalar
// Solver::minMod3 computes it).
template <int W> VELLORAN_INLINE Lanes<W> minMod3(Lanes<W> x, Lanes<W> y, Lanes<W> z) {
    const Lanes<W> zero{};
    const auto positive = (x > zero) & (y > zero) & (z > zero);
    const auto negative = (x < zero) & (y < zero) & (z < zero);
    const Lanes<W> sign = positive ? splat<W>(1.0) : (negative ? splat<W>(-1.0) : zero);
    return sign * minOf<W>(minOf<W>(lanes::abs<W>(x), lanes::abs<W>(y)), lanes::abs<W>(z));
}

// Flux through a face of speed a: upwind plus the limited correction that
// vanishes with the speed, a+ qL + a- qR + (1/2)|a| (1 - lambda |a|) minmod.
template <int W>
VELLORAN_INLINE Lanes<W> faceFlux(Lanes<W> qLL, Lanes<W> qL, Lanes<W> qR, Lanes<W> qRR, Lanes<W> a,
                                  Lanes<W> lambda) {
    const Lanes<W> zero{};
    const Lanes<W> speed = lanes::abs<W>(a);
    return maxOf<W>(a, zero) * qL + minOf<W>(a, zero) * qR +
           splat<W>(0.5) * speed * (splat<W>(1.0) - lambda * speed) *
               minMod3<W>(qRR - qR, qR - qL, qL - qLL);
}

// The smoke's flux through a face of speed a: upwind plus the correction
// limited by the monotonised central limiter on the upwind difference,
// a+ qL + a- qR + (1/2)|a| (1 - lambda |a|) minmod(2 up, (up + across) / 2,
// 2 across), up the difference behind the donor cell, across qR - qL. It
// keeps the smoke's edges about as sharp as the flow leaves them, where the
// three-way minmod of the velocity's flux smeared every strand into a haze
// that no flow could gather again (docs/method.md).
template <int W>
VELLORAN_INLINE Lanes<W> smokeFlux(Lanes<W> qLL, Lanes<W> qL, Lanes<W> qR, Lanes<W> qRR, Lanes<W> a,
                                   Lanes<W> lambda) {
    const Lanes<W> zero{};
    const Lanes<W> two = splat<W>(2.0);
    const Lanes<W> speed = lanes::abs<W>(a);
    const Lanes<W> up = a > zero ? qL - qLL : qRR - qR;
    const Lanes<W> across = qR - qL;
    return maxOf<W>(a, zero) * qL + minOf<W>(a, zero) * qR +
           splat<W>(0.5) * speed * (splat<W>(1.0) - lambda * speed) *
               minMod3<W>(two * up, splat<W>(0.5) * (up + across), two * across);
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
        store<L>(fk + i, faceFlux<L>(load<L>(q + (c - 2) * xs), load<L>(q + (c - 1) * xs),
                                     load<L>(q + c * xs), load<L>(q + (c + 1) * xs), a,
                                     splat<L>(p.lambda)));
    }
    template <int L> VELLORAN_INLINE void cell(int j, double *fc, int c) const {
        const double *q = p.q + j * xs + c;
        const double *ua = p.ua + j * xs + c;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(ua) + load<L>(ua + 1));
        store<L>(fc + c, faceFlux<L>(load<L>(q - 1), load<L>(q), load<L>(q + 1), load<L>(q + 2), a,
                                     splat<L>(p.lambda)));
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
        store<L>(fc + i, faceFlux<L>(load<L>(q + (c - 1) * cs), load<L>(q + c * cs),
                                     load<L>(q + (c + 1) * cs), load<L>(q + (c + 2) * cs), a,
                                     splat<L>(p.lambda)));
    }
    template <int L> VELLORAN_INLINE void corner(int j, double *fk, int i) const {
        const double *q = p.q + j * cs + i;
        const double *ua = p.ua + i;
        const Lanes<L> a = splat<L>(0.5) * (load<L>(ua + (j - 1) * xs) + load<L>(ua + j * xs));
        store<L>(fk + i, faceFlux<L>(load<L>(q - 2), load<L>(q - 1), load<L>(q), load<L>(q + 1), a,
                                     splat<L>(p.lambda)));
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
// Gathering

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

// ---------------------------------------------------------------------------
// Implicit gathering along lines. L lines side by side, one per lane; entry k
// of every scratch array is a vector of L values at k * L.

// The outflows of cells that a linear step would take below zero, scaled to
// what those cells hold, until no cell is left below zero; the rounding
// residue is then set to zero. One lane: its values `lanes` apart.
VELLORAN_INLINE void limitOutflows(int m, const double *flux, const double *rho0,
                                   std::ptrdiff_t rhoStep, double lambda, double *next,
                                   double *scale, int lanes) {
    const auto at = [lanes](int k) { return static_cast<std::ptrdiff_t>(k) * lanes; };
    for (int i = 0; i < m; ++i) {
        scale[at(i)] = 1.0;
    }
    bool negative = true;
    while (negative) {
        for (int i = 0; i < m; ++i) {
            if (next[at(i)] < 0.0 && scale[at(i)] == 1.0) {
                const double out = std::max(flux[at(i + 1)], 0.0) - std::min(flux[at(i)], 0.0);
                scale[at(i)] = rho0[i * rhoStep] / (lambda * out);
            }
        }
        negative = false;
        for (int i = 0; i < m; ++i) {
            // A face's flux is scaled by the factor of the cell it leaves.
            const double high = flux[at(i + 1)] > 0
                                    ? flux[at(i + 1)] * scale[at(i)]
                                    : flux[at(i + 1)] * scale[at(std::min(i + 1, m - 1))];
            const double low = flux[at(i)] > 0 ? flux[at(i)] * scale[at(std::max(i - 1, 0))]
                                               : flux[at(i)] * scale[at(i)];
            next[at(i)] = rho0[i * rhoStep] - lambda * (high - low);
            negative = negative || (next[at(i)] < 0.0 && scale[at(i)] == 1.0);
        }
    }
    for (int i = 0; i < m; ++i) {
        next[at(i)] = std::max(next[at(i)], 0.0);
    }
}

template <int L> struct LineGather {
    const GatherLinesPlan p;

    // The L lines whose cell 0 is at rho / target and whose face coefficients
    // start at coef.
    VELLORAN_INLINE void run(double *rho, const double *target, const double *coef,
                             double *scratch) const {
        const int m = p.m;
        const std::ptrdiff_t cs = p.cellStep;
        const std::ptrdiff_t ks = p.coefCellStep;
        const auto size = static_cast<std::size_t>(m + 2) * L;
        double *flux = scratch;
        double *alpha = flux + size;
        double *beta = alpha + size;
        double *upper = beta + size;
        double *solution = upper + size;
        double *scale = solution + size;
        const auto at = [](int k) { return static_cast<std::ptrdiff_t>(k) * L; };
        const Lanes<L> zero{};
        const Lanes<L> lambda = splat<L>(p.lambda);
        const Lanes<L> minusLambda = splat<L>(-p.lambda);
        const Lanes<L> one = splat<L>(1.0);
        store<L>(flux, zero);
        store<L>(flux + at(m), zero);
        store<L>(alpha, zero);
        store<L>(alpha + at(m), zero);
        store<L>(beta, zero);
        store<L>(beta + at(m), zero);
        for (int k = 1; k < m; ++k) {
            const Lanes<L> rhoL = load<L>(rho + (k - 1) * cs);
            const Lanes<L> rhoR = load<L>(rho + k * cs);
            const Lanes<L> c = load<L>(coef + k * ks);
            const Lanes<L> w =
                c * ((rhoL - load<L>(target + (k - 1) * cs)) - (rhoR - load<L>(target + k * cs)));
            const Lanes<L> donor = w > zero ? rhoL : (w < zero ? rhoR : maxOf<L>(rhoL, rhoR));
            const Lanes<L> wPlus = maxOf<L>(w, zero);
            const Lanes<L> wMinus = minOf<L>(w, zero);
            store<L>(flux + at(k), wPlus * rhoL + wMinus * rhoR);
            store<L>(alpha + at(k), wPlus + c * donor);
            store<L>(beta + at(k), c * donor - wMinus);
        }
        for (int i = 0; i < m; ++i) {
            const Lanes<L> lower = minusLambda * load<L>(alpha + at(i));
            const Lanes<L> diagonal =
                one + lambda * (load<L>(alpha + at(i + 1)) + load<L>(beta + at(i)));
            const Lanes<L> up = minusLambda * load<L>(beta + at(i + 1));
            const Lanes<L> rhs = minusLambda * (load<L>(flux + at(i + 1)) - load<L>(flux + at(i)));
            if (i == 0) {
                store<L>(upper, up / diagonal);
                store<L>(solution, rhs / diagonal);
            } else {
                const Lanes<L> pivot = diagonal - lower * load<L>(upper + at(i - 1));
                store<L>(upper + at(i), up / pivot);
                store<L>(solution + at(i), (rhs - lower * load<L>(solution + at(i - 1))) / pivot);
            }
        }
        for (int i = m - 2; i >= 0; --i) {
            store<L>(solution + at(i), load<L>(solution + at(i)) -
                                           load<L>(upper + at(i)) * load<L>(solution + at(i + 1)));
        }
        for (int k = 1; k < m; ++k) {
            store<L>(flux + at(k), load<L>(flux + at(k)) +
                                       load<L>(alpha + at(k)) * load<L>(solution + at(k - 1)) -
                                       load<L>(beta + at(k)) * load<L>(solution + at(k)));
        }
        double *next = solution;
        Lanes<L> negative = zero;
        for (int i = 0; i < m; ++i) {
            const Lanes<L> value = load<L>(rho + i * cs) -
                                   lambda * (load<L>(flux + at(i + 1)) - load<L>(flux + at(i)));
            store<L>(next + at(i), value);
            negative = value < zero ? one : negative;
        }
        for (int lane = 0; lane < L; ++lane) {
            if (negative[lane] != 0.0) {
                limitOutflows(m, flux + lane, rho + lane, cs, p.lambda, next + lane, scale + lane,
                              L);
            }
        }
        for (int i = 0; i < m; ++i) {
            store<L>(rho + i * cs, load<L>(next + at(i)));
        }
    }
};

template <int W> struct GatherLinesRun {
    const GatherLinesPlan p;

    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        double *scratch = p.scratch + static_cast<std::size_t>(part) * p.scratchStride;
        int line = begin;
        // Lines side by side in memory share vectors; others go one at a time.
        if (p.lineStep == 1) {
            const LineGather<W> wide{p};
            for (; line + W <= end; line += W) {
                wide.run(p.rho + line, p.target + line, p.coef + line * p.coefLineStep, scratch);
            }
        }
        // Lines apart in memory (rows): W of them copied side by side into
        // lanes, solved together and copied back. Each lane does the single
        // line's operations, so the bits are the same.
        if (p.lineStep != 1 && W > 1) {
            const int m = p.m;
            const auto size = static_cast<std::size_t>(m + 2) * W;
            double *rhoLanes = scratch + 6 * size;
            double *targetLanes = rhoLanes + size;
            double *coefLanes = targetLanes + size;
            GatherLinesPlan lanesPlan = p;
            lanesPlan.cellStep = W;
            lanesPlan.coefCellStep = W;
            const LineGather<W> packed{lanesPlan};
            for (; line + W <= end; line += W) {
                for (int lane = 0; lane < W; ++lane) {
                    const double *r = p.rho + (line + lane) * p.lineStep;
                    const double *t = p.target + (line + lane) * p.lineStep;
                    const double *c = p.coef + (line + lane) * p.coefLineStep;
                    for (int k = 0; k < m; ++k) {
                        rhoLanes[k * W + lane] = r[k * p.cellStep];
                        targetLanes[k * W + lane] = t[k * p.cellStep];
                        coefLanes[k * W + lane] = c[k * p.coefCellStep];
                    }
                }
                packed.run(rhoLanes, targetLanes, coefLanes, scratch);
                for (int lane = 0; lane < W; ++lane) {
                    double *r = p.rho + (line + lane) * p.lineStep;
                    for (int k = 0; k < m; ++k) {
                        r[k * p.cellStep] = rhoLanes[k * W + lane];
                    }
                }
            }
        }
        const LineGather<1> single{p};
        for (; line < end; ++line) {
            single.run(p.rho + line * p.lineStep, p.target + line * p.lineStep,
                       p.coef + line * p.coefLineStep, scratch);
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

std::size_t uStride(int n) {
    return static_cast<std::size_t>(n) + 3;
}
std::size_t cellStride(int n) {
    return static_cast<std::size_t>(n) + 2;
}

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
template <bool Limited> struct DensityTransportKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const DensityTransportPlan &plan, int begin, int end,
                                    int part) {
        DensityTransport<W, Limited>{plan, uStride(plan.n), cellStride(plan.n)}.rows(begin, end,
                                                                                     part);
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
struct GatherLinesKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const GatherLinesPlan &plan, int begin, int end, int part) {
        GatherLinesRun<W>{plan}.rows(begin, end, part);
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

void momentumXRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part) {
    LaneDispatch<MomentumXKernel>::run(level, plan, begin, end, part);
}
void momentumYRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part) {
    LaneDispatch<MomentumYKernel>::run(level, plan, begin, end, part);
}
void densityTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                          int part) {
    LaneDispatch<DensityTransportKernel<true>>::run(level, plan, begin, end, part);
}
void donorTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                        int part) {
    LaneDispatch<DensityTransportKernel<false>>::run(level, plan, begin, end, part);
}
Extent gatherRateRows(SimdLevel level, const GatherPlan &plan, int begin, int end) {
    Extent extent;
    Extent *out = &extent;
    LaneDispatch<GatherRateKernel>::run(level, plan, begin, end, out);
    return extent;
}
void gatherUpdateRows(SimdLevel level, const GatherPlan &plan, int begin, int end, int part) {
    LaneDispatch<GatherUpdateKernel>::run(level, plan, begin, end, part);
}
void gatherLines(SimdLevel level, const GatherLinesPlan &plan, int begin, int end, int part) {
    LaneDispatch<GatherLinesKernel>::run(level, plan, begin, end, part);
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
