// The literal scheme's limited-flux transport and the differences across faces (kernels.h).

#include "kernels.h"

#include "lanedispatch.h"

#include <algorithm>
#include <cmath>

namespace velloran::kernels {
namespace {

using lanes::load;
using lanes::splat;
using lanes::store;

// ---------------------------------------------------------------------------
// Limited flux

// Face terms for count faces in a row: face f has the values qm1[f], q0[f],
// q1[f], q2[f] and the speed a[f].
template <int W>
VELLORAN_INLINE void faceLine(const double *qm1, const double *q0, const double *q1,
                              const double *q2, const double *a, double lambda, double *p,
                              double *c, int count) {
    int f = 0;
    {
        using V = typename lanes::Vec<W>::V;
        const V lam = splat<W>(lambda);
        for (; f + W <= count; f += W) {
            V pf;
            V cf;
            lanes::faceTerms<W>(load<W>(qm1 + f), load<W>(q0 + f), load<W>(q1 + f), load<W>(q2 + f),
                                load<W>(a + f), lam, pf, cf);
            store<W>(p + f, pf);
            store<W>(c + f, cf);
        }
    }
    using V1 = typename lanes::Vec<1>::V;
    const V1 lam1 = splat<1>(lambda);
    for (; f < count; ++f) {
        V1 pf;
        V1 cf;
        lanes::faceTerms<1>(load<1>(qm1 + f), load<1>(q0 + f), load<1>(q1 + f), load<1>(q2 + f),
                            load<1>(a + f), lam1, pf, cf);
        store<1>(p + f, pf);
        store<1>(c + f, cf);
    }
}

// One cell of the unsplit update, on W neighbouring cells starting at i.
template <int W>
VELLORAN_INLINE void cellUpdate(const CellFluxPlan &plan, const FaceRows &s, std::size_t rowOffset,
                                int i) {
    using V = typename lanes::Vec<W>::V;
    const V lambda = splat<W>(plan.lambda);
    const V fluxX =
        ((load<W>(s.px + i + 1) - load<W>(s.px + i)) + load<W>(s.cx + i + 1)) - load<W>(s.cx + i);
    const V fluxY =
        ((load<W>(s.pHigh + i) - load<W>(s.pLow + i)) + load<W>(s.cHigh + i)) - load<W>(s.cLow + i);
    const std::size_t at = rowOffset + static_cast<std::size_t>(i);
    const V q = load<W>(plan.q + at);
    switch (plan.mode) {
    case CellFluxMode::AdvectDensity:
        store<W>(plan.out + at, q - lambda * (fluxY + fluxX));
        break;
    case CellFluxMode::GatherFirst:
        store<W>(plan.out + at, load<W>(plan.blurTarget + at) * load<W>(plan.rho + at) *
                                    (q + lambda * (fluxY + fluxX)));
        break;
    case CellFluxMode::GatherSecond:
        store<W>(plan.out + at,
                 load<W>(plan.out + at) + splat<W>(plan.vg) * (q + lambda * (fluxY + fluxX)));
        break;
    }
}

template <int W>
VELLORAN_INLINE void cellFluxLanes(const CellFluxPlan &plan, int begin, int end, int part) {
    FaceRows s = plan.scratch[part];
    const int n = plan.n;
    const std::size_t cs = plan.cellStride;
    const int cells = n - 2; // columns 2..n-1
    const double *q = plan.q;
    // Faces between rows g - 1 and g, for the columns of the block.
    const auto yFaces = [&](int g, double *p, double *c) {
        const std::size_t at = static_cast<std::size_t>(g) * cs + 2;
        faceLine<W>(q + at - 2 * cs, q + at - cs, q + at, q + at + cs, plan.speedY + at,
                    plan.lambda, p + 2, c + 2, cells);
    };
    if (begin < end) {
        yFaces(begin, s.pLow, s.cLow);
    }
    for (int j = begin; j < end; ++j) {
        yFaces(j + 1, s.pHigh, s.cHigh);
        // Faces between columns f - 1 and f, f = 2..n.
        const std::size_t row = static_cast<std::size_t>(j) * cs;
        faceLine<W>(q + row, q + row + 1, q + row + 2, q + row + 3,
                    plan.speedX + static_cast<std::size_t>(j) * plan.xStride + 2, plan.lambda,
                    s.px + 2, s.cx + 2, n - 1);
        int i = 2;
        for (; i + W - 1 <= n - 1; i += W) {
            cellUpdate<W>(plan, s, row, i);
        }
        for (; i <= n - 1; ++i) {
            cellUpdate<1>(plan, s, row, i);
        }
        std::swap(s.pLow, s.pHigh);
        std::swap(s.cLow, s.cHigh);
    }
}

template <int W>
VELLORAN_INLINE void advectXFacesLanes(const FaceFluxPlan &plan, int begin, int end, int part) {
    const FaceRows &s = plan.scratch[part];
    const int n = plan.n;
    for (int j = begin; j < end; ++j) {
        const double *u = plan.q + static_cast<std::size_t>(j) * plan.stride;
        double *out = plan.out + static_cast<std::size_t>(j) * plan.stride;
        // The control volume of face i reaches from the centre of cell i - 1 to
        // that of cell i: its sides sit at the cell centres k = 1..n.
        faceLine<W>(u, u + 1, u + 2, u + 3,
                    plan.speed + static_cast<std::size_t>(j) * plan.speedStride + 1, plan.lambda,
                    s.px + 1, s.cx + 1, n);
        const auto update = [&](auto width, int i) {
            constexpr int K = decltype(width)::value;
            using V = typename lanes::Vec<K>::V;
            const V flux = ((load<K>(s.px + i) - load<K>(s.px + i - 1)) + load<K>(s.cx + i)) -
                           load<K>(s.cx + i - 1);
            store<K>(out + i, load<K>(u + i) - splat<K>(plan.lambda) * flux);
        };
        int i = 2;
        for (; i + W - 1 <= n; i += W) {
            update(std::integral_constant<int, W>{}, i);
        }
        for (; i <= n; ++i) {
            update(std::integral_constant<int, 1>{}, i);
        }
    }
}

template <int W>
VELLORAN_INLINE void advectYFacesLanes(const FaceFluxPlan &plan, int begin, int end, int part) {
    FaceRows s = plan.scratch[part];
    const int n = plan.n;
    const std::size_t vs = plan.stride;
    const std::size_t cs = plan.speedStride;
    const int cells = n - 2; // columns 2..n-1
    // Sides between face rows k and k + 1, at the cell centres of row k.
    const auto sides = [&](int k, double *p, double *c) {
        const std::size_t at = static_cast<std::size_t>(k) * vs + 2;
        faceLine<W>(plan.q + at - vs, plan.q + at, plan.q + at + vs, plan.q + at + 2 * vs,
                    plan.speed + static_cast<std::size_t>(k) * cs + 2, plan.lambda, p + 2, c + 2,
                    cells);
    };
    if (begin < end) {
        sides(begin - 1, s.pLow, s.cLow);
    }
    for (int j = begin; j < end; ++j) {
        sides(j, s.pHigh, s.cHigh);
        const double *v = plan.q + static_cast<std::size_t>(j) * vs;
        double *out = plan.out + static_cast<std::size_t>(j) * vs;
        const auto update = [&](auto width, int i) {
            constexpr int K = decltype(width)::value;
            using V = typename lanes::Vec<K>::V;
            const V flux = ((load<K>(s.pHigh + i) - load<K>(s.pLow + i)) + load<K>(s.cHigh + i)) -
                           load<K>(s.cLow + i);
            store<K>(out + i, load<K>(v + i) - splat<K>(plan.lambda) * flux);
        };
        int i = 2;
        for (; i + W - 1 <= n - 1; i += W) {
            update(std::integral_constant<int, W>{}, i);
        }
        for (; i <= n - 1; ++i) {
            update(std::integral_constant<int, 1>{}, i);
        }
        std::swap(s.pLow, s.pHigh);
        std::swap(s.cLow, s.cHigh);
    }
}

// ---------------------------------------------------------------------------
// Differences across faces

template <int K>
VELLORAN_INLINE void faceDifference(FaceDifferenceMode mode, const double *c, const double *cLow,
                                    const double *b, const double *bLow, double *face,
                                    double divisor, int i) {
    using V = typename lanes::Vec<K>::V;
    const V d = load<K>(c + i) - load<K>(cLow + i);
    if (mode == FaceDifferenceMode::Subtract) {
        store<K>(face + i, load<K>(face + i) - d / splat<K>(divisor));
    } else {
        store<K>(face + i, d * (load<K>(b + i) + load<K>(bLow + i)) / splat<K>(divisor));
    }
}

template <int W>
VELLORAN_INLINE void faceDifferencesLanes(const FaceDifferencePlan &plan, int begin, int end) {
    const int n = plan.n;
    const std::size_t cs = static_cast<std::size_t>(n) + 2;
    const std::size_t xs = static_cast<std::size_t>(n) + 3;
    const bool speed = plan.mode == FaceDifferenceMode::Speed;
    for (int j = begin; j < end; ++j) {
        const double *c = plan.cells + static_cast<std::size_t>(j) * cs;
        const double *cBelow = c - cs;
        const double *b = speed ? plan.weights + static_cast<std::size_t>(j) * cs : nullptr;
        const double *bBelow = speed ? b - cs : nullptr;
        if (j <= n) {
            // x-faces: the low side is the cell to the left.
            double *face = plan.xFaces + static_cast<std::size_t>(j) * xs;
            int i = 1;
            for (; i + W - 1 <= n + 1; i += W) {
                faceDifference<W>(plan.mode, c, c - 1, b, speed ? b - 1 : nullptr, face,
                                  plan.divisor, i);
            }
            for (; i <= n + 1; ++i) {
                faceDifference<1>(plan.mode, c, c - 1, b, speed ? b - 1 : nullptr, face,
                                  plan.divisor, i);
            }
        }
        // y-faces: the low side is the cell below.
        double *face = plan.yFaces + static_cast<std::size_t>(j) * cs;
        int i = 1;
        for (; i + W - 1 <= n; i += W) {
            faceDifference<W>(plan.mode, c, cBelow, b, bBelow, face, plan.divisor, i);
        }
        for (; i <= n; ++i) {
            faceDifference<1>(plan.mode, c, cBelow, b, bBelow, face, plan.divisor, i);
        }
    }
}

// ---------------------------------------------------------------------------
// Entry points: one kernel struct per loop, dispatched by lane flavour.

struct CellFluxKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const CellFluxPlan &plan, int begin, int end, int part) {
        cellFluxLanes<W>(plan, begin, end, part);
    }
};
struct AdvectXFacesKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const FaceFluxPlan &plan, int begin, int end, int part) {
        advectXFacesLanes<W>(plan, begin, end, part);
    }
};
struct AdvectYFacesKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const FaceFluxPlan &plan, int begin, int end, int part) {
        advectYFacesLanes<W>(plan, begin, end, part);
    }
};
struct FaceDifferencesKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const FaceDifferencePlan &plan, int begin, int end) {
        faceDifferencesLanes<W>(plan, begin, end);
    }
};

} // namespace

void cellFlux(SimdLevel level, const CellFluxPlan &plan, int begin, int end, int part) {
    LaneDispatch<CellFluxKernel>::run(level, plan, begin, end, part);
}
void advectXFaces(SimdLevel level, const FaceFluxPlan &plan, int begin, int end, int part) {
    LaneDispatch<AdvectXFacesKernel>::run(level, plan, begin, end, part);
}
void advectYFaces(SimdLevel level, const FaceFluxPlan &plan, int begin, int end, int part) {
    LaneDispatch<AdvectYFacesKernel>::run(level, plan, begin, end, part);
}
void faceDifferences(SimdLevel level, const FaceDifferencePlan &plan, int begin, int end) {
    LaneDispatch<FaceDifferencesKernel>::run(level, plan, begin, end);
}

} // namespace velloran::kernels
