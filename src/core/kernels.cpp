#include "kernels.h"

#include "lanedispatch.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <type_traits>
#include <utility>

namespace velloran {

SimdLevel bestSimdLevel() {
#if defined(__x86_64__)
    static const SimdLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) {
            return SimdLevel::Avx512;
        }
        if (__builtin_cpu_supports("avx2")) {
            return SimdLevel::Avx2;
        }
        return SimdLevel::Baseline;
    }();
    return level;
#else
    return SimdLevel::Baseline;
#endif
}

const char *simdLevelName(SimdLevel level) {
    switch (level) {
    case SimdLevel::Avx512:
        return "avx512";
    case SimdLevel::Avx2:
        return "avx2";
    case SimdLevel::Baseline:
        break;
    }
    return "baseline";
}

namespace kernels {
namespace {

using lanes::load;
using lanes::splat;
using lanes::store;

// ---------------------------------------------------------------------------
// Blur

// Sums that have grown so large that no term still to come can change them.
// Adding t to a normal sum S leaves S unchanged when |t| < 2^(e-54), with
// 2^e <= |S| (half the smaller spacing of the doubles next to S), which holds
// when |t| <= |S| 2^-55. A term still to come is a rounded product w x with
// |w x| <= bound, so it is at most bound (1 + 2^-52) or, below the normal
// range, bound + 2^-1075; both stay under |S| 2^-55 when |S| >= bound 2^57
// and |S| >= 2^-1000. A sum that is infinite or NaN stays what it is under
// finite terms as well; a sum of 0 does not qualify. Lanes of the block that
// are not stored count like the others, which only makes the test stricter.
template <int W, int N>
VELLORAN_INLINE bool sumsAbsorb(const typename lanes::Vec<W>::V *acc, double bound) {
    using V = typename lanes::Vec<W>::V;
    const double threshold = std::max(bound * 0x1p57, 0x1p-1000);
    V smallest = lanes::abs<W>(acc[0]);
#pragma GCC unroll 16
    for (int k = 1; k < N; ++k) {
        smallest = lanes::minOf<W>(smallest, lanes::abs<W>(acc[k]));
    }
    for (int m = 0; m < W; ++m) {
        if (!(smallest[m] >= threshold)) {
            return false;
        }
    }
    return true;
}

// Columns (rows) walked between two tests of sumsAbsorb.
constexpr int kTailCheck = 8;

// The largest |value| of a row (NaN left out) and whether any value is
// infinite or NaN: |x| * 0 is 0 for every finite x and NaN otherwise.
template <int W>
VELLORAN_INLINE void rowExtentLanes(const double *row, int count, double &largest,
                                    bool &notFinite) {
    using V = typename lanes::Vec<W>::V;
    const V zero{};
    V top{};
    V poison{};
    int i = 0;
    for (; i + W <= count; i += W) {
        const V x = lanes::abs<W>(load<W>(row + i));
        top = lanes::maxOf<W>(top, x);
        poison = poison + x * zero;
    }
    double topAll = 0.0;
    double poisonAll = 0.0;
    for (int m = 0; m < W; ++m) {
        topAll = std::max(topAll, top[m]);
        poisonAll = poisonAll + poison[m];
    }
    for (; i < count; ++i) {
        const double x = std::fabs(row[i]);
        topAll = std::max(topAll, x);
        poisonAll = poisonAll + x * 0.0;
    }
    largest = topAll;
    notFinite = !(poisonAll == 0.0);
}

// Horizontal pass, one block of 8 vectors of outputs at a time. Output i sums
// kernel[c - i + r] * src[c] over the columns c in increasing order, exactly
// as the plain loop does; the block walks the union of its outputs' windows
// and reads each output's weight from the reversed kernel, so columns outside
// an output's window meet a zero weight. Columns outside the row's smoke hold
// zeros and are not visited. Both kinds of skipped or added term are w * x with
// w or x zero and both finite, that is +0 or -0, and adding a signed zero to a
// sum that started at +0 never changes it (such a sum is never -0). Past the
// centre of the block's last output every weight still to come is at most
// tailMax of its index, so the walk ends as soon as the sums absorb every
// remaining term (sumsAbsorb): the far right tail of the kernel adds nothing
// to sums that the centre has made large. The caller guarantees finite inputs
// and weights.
template <int W> VELLORAN_INLINE void blurRowsLanes(const BlurPlan &b, int begin, int end) {
    using V = typename lanes::Vec<W>::V;
    constexpr int U = 8; // independent sums per block: enough to hide the adds' latency
    constexpr int B = U * W;
    const int cols = b.cols;
    const int r = b.radius;
    const int reach = b.reach;
    for (int j = begin; j < end; ++j) {
        const double *s = b.src + static_cast<std::size_t>(j) * static_cast<std::size_t>(cols);
        double *t = b.tmp + static_cast<std::size_t>(j) * b.tmpStride;
        const int first = b.smokeFirst[j];
        const int last = b.smokeLast[j];
        if (first > last) {
            std::fill(t, t + cols, 0.0);
            b.rowOverflow[j] = 0;
            b.tmpRowMax[j] = 0.0;
            continue;
        }
        const double largest = b.srcRowMax[j];
        for (int i0 = 0; i0 < cols; i0 += B) {
            const int cBegin = std::max(first, i0 - reach);
            const int cEnd = std::min(last, i0 + B - 1 + reach);
            V acc[U] = {};
            // Output i0 + l weighs column c with kernel[c - i0 - l + r], that
            // is, the weights for column c start at entry a of the reversed
            // kernel; they are read from the copy that puts it on a vector
            // boundary.
            const int a0 = kBlurPad + r + i0;
            const auto addColumn = [&](int c) {
                const V x = splat<W>(s[c]);
                const auto a = static_cast<std::size_t>(a0 - c);
                const double *w = b.shifted + (a % W) * b.shiftedStride + (a - a % W);
#pragma GCC unroll 8
                for (int u = 0; u < U; ++u) {
                    acc[u] = acc[u] + load<W>(w + u * W) * x;
                }
            };
            const int lastOutput = i0 + B - 1;
            int c = cBegin;
            for (; c <= cEnd && c < lastOutput; ++c) {
                addColumn(c);
            }
            while (c <= cEnd) {
                const int stop = std::min(cEnd, c + kTailCheck - 1);
                for (; c <= stop; ++c) {
                    addColumn(c);
                }
                if (c <= cEnd && sumsAbsorb<W, U>(acc, b.tailMax[c - lastOutput + r] * largest)) {
                    break;
                }
            }
#pragma GCC unroll 8
            for (int u = 0; u < U; ++u) {
                store<W>(t + i0 + u * W, acc[u]);
            }
        }
        bool overflow = false;
        double tmpLargest = 0.0;
        rowExtentLanes<W>(t, cols, tmpLargest, overflow);
        b.rowOverflow[j] = overflow ? 1 : 0;
        b.tmpRowMax[j] = tmpLargest;
    }
}

// Vertical pass in narrow column strips that stay in the first-level cache,
// four output rows at a time so that every value loaded from tmp serves four
// sums. Output (i, j) sums tmp(i, row) * kernel[row - j + r] over the rows in
// increasing order, then adds the floor. The four rows walk the union of their
// windows; a row outside one output's window meets a zero weight (from the
// kernel's underflowed tail or the zeros padded around it), and rows without
// smoke are exactly zero in tmp and are not visited: as in the horizontal pass,
// only exact zeros of finite terms are added or left out, and past the centre
// of the block's last output row the walk ends once the sums absorb the rest.
template <int W> VELLORAN_INLINE void blurColumnsLanes(const BlurPlan &b, int begin, int end) {
    using V = typename lanes::Vec<W>::V;
    constexpr int U = 2;     // vectors across a strip
    constexpr int R = 4;     // output rows per block
    constexpr int S = U * W; // strip width
    const int cols = b.cols;
    const int r = b.radius;
    const int reach = b.reach;
    const V floor = splat<W>(1e-256);
    for (int i0 = 0; i0 < cols; i0 += S) {
        for (int j0 = begin; j0 < end; j0 += R) {
            const int rowBegin = std::max(b.firstSmokyRow, j0 - reach);
            const int rowEnd = std::min(b.lastSmokyRow, j0 + R - 1 + reach);
            V acc[R][U] = {};
            const auto addRow = [&](int row) {
                const double *t = b.tmp + static_cast<std::size_t>(row) * b.tmpStride + i0;
                const V t0 = load<W>(t);
                const V t1 = load<W>(t + W);
                const double *w = b.padded + (row - j0 + r);
#pragma GCC unroll 4
                for (int q = 0; q < R; ++q) {
                    const V weight = splat<W>(w[-q]);
                    acc[q][0] = acc[q][0] + t0 * weight;
                    acc[q][1] = acc[q][1] + t1 * weight;
                }
            };
            const int lastOutput = j0 + R - 1;
            int row = rowBegin;
            for (; row <= rowEnd && row < lastOutput; ++row) {
                addRow(row);
            }
            while (row <= rowEnd) {
                const int stop = std::min(rowEnd, row + kTailCheck - 1);
                for (; row <= stop; ++row) {
                    addRow(row);
                }
                if (row <= rowEnd && sumsAbsorb<W, R * U>(acc[0], b.tailMax[row - lastOutput + r] *
                                                                      b.tmpTailMax[row])) {
                    break;
                }
            }
            const int rowsHere = std::min(R, end - j0);
            for (int q = 0; q < rowsHere; ++q) {
                double *d =
                    b.dst + static_cast<std::size_t>(j0 + q) * static_cast<std::size_t>(cols) + i0;
                if (i0 + S <= cols) {
                    store<W>(d, acc[q][0] + floor);
                    store<W>(d + W, acc[q][1] + floor);
                } else {
                    double block[S];
                    store<W>(block, acc[q][0] + floor);
                    store<W>(block + W, acc[q][1] + floor);
                    std::copy(block, block + (cols - i0), d);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Pressure

// All sweeps of the in-place Gauss-Seidel iteration at once. Lane L carries
// sweep L, which works on column t - 2L at time t, rows upwards. A cell then
// reads, as the sequential sweeps do, its upper and right neighbours from
// sweep L - 1 (lane L - 1 finished them at times t - 2 and t - 1) and its left
// and lower neighbours from sweep L (time t - 1, and the row just done). The
// lag of two columns makes the lanes of one time independent, so they run as
// vectors; each value is computed from the same operands in the same order as
// in the sequential sweeps. Lanes outside the grid stand for the frame: they
// are forced to 0. ring[t % 3] holds the columns of time t, one row per grid
// row, lane L in slot L + 1; slot 0 is sweep "-1", the zero start.
// One time of the wavefront for the vectors first .. first + K - 1.
// The last lane's value of row j is also copied to finalColumn[j * finalStride].
template <int W, int K>
VELLORAN_INLINE void pressureTime(const PressurePlan &g, int t, int first,
                                  const typename lanes::Vec<W>::M *mask, double *finalColumn,
                                  std::size_t finalStride) {
    using V = typename lanes::Vec<W>::V;
    using M = typename lanes::Vec<W>::M;
    const int n = g.n;
    const std::size_t ls = g.laneStride;
    const V weight = splat<W>(g.weight);
    double *cur = g.ring[t % 3] + first * W;
    const double *prev1 = g.ring[(t + 2) % 3] + first * W;
    const double *prev2 = g.ring[(t + 1) % 3] + first * W;
    const int parity = t & 1;
    const double *skew = g.skew[parity] + (g.skewOrigin - (t - parity) / 2) + first * W;
    V chain[K] = {};
    const double *up = prev2 + 2 * ls;
    const double *row = prev1 + ls;
    const double *divergence = skew + g.skewStride;
    double *out = cur + ls;
    for (int j = 1; j <= n; ++j, up += ls, row += ls, divergence += g.skewStride, out += ls) {
#pragma GCC unroll 12
        for (int k = 0; k < K; ++k) {
            const V above = load<W>(up + k * W);
            const V right = load<W>(row + k * W);
            const V left = load<W>(row + k * W + 1);
            const V source = load<W>(divergence + k * W);
            // The chain keeps the unmasked value: a lane's activity depends on
            // t alone, so what an inactive lane carries only ever reaches
            // itself, and only masked values are stored.
            const V value = weight * ((((above + right) + left) + chain[k]) + source);
            chain[k] = value;
            store<W>(out + k * W + 1,
                     reinterpret_cast<V>(reinterpret_cast<M>(value) & mask[first + k]));
        }
        finalColumn[static_cast<std::size_t>(j) * finalStride] = out[kPressureSweeps - first * W];
    }
}

template <int W, int K = (kPressureSweeps + W - 1) / W>
VELLORAN_INLINE void pressureTimeOf(const PressurePlan &g, int t, int first, int count,
                                    const typename lanes::Vec<W>::M *mask, double *finalColumn,
                                    std::size_t finalStride) {
    if constexpr (K >= 1) {
        if (count == K) {
            pressureTime<W, K>(g, t, first, mask, finalColumn, finalStride);
        } else {
            pressureTimeOf<W, K - 1>(g, t, first, count, mask, finalColumn, finalStride);
        }
    }
}

// All sweeps of the in-place Gauss-Seidel iteration at once. Lane L carries
// sweep L, which works on column t - 2L at time t, rows upwards. A cell then
// reads, as the sequential sweeps do, its upper and right neighbours from
// sweep L - 1 (lane L - 1 finished them at times t - 2 and t - 1) and its left
// and lower neighbours from sweep L (time t - 1, and the row just done). The
// lag of two columns makes the lanes of one time independent, so they run as
// vectors; each value is computed from the same operands in the same order as
// in the sequential sweeps. Lanes outside the grid stand for the frame: they
// are forced to 0. ring[t % 3] holds the columns of time t, one row per grid
// row, lane L in slot L + 1; slot 0 is sweep "-1", the zero start.
//
// A vector whose lanes have not reached column 1 yet is not computed: its
// slots are still the zeros they started as, which is what its lanes stand
// for. Nor is one whose lanes are all past column n + 1: nothing reads those
// columns while it is active.
template <int W> VELLORAN_INLINE void pressureSweepsLanes(const PressurePlan &g) {
    using M = typename lanes::Vec<W>::M;
    constexpr int kVectors = (kPressureSweeps + W - 1) / W;
    const int n = g.n;
    constexpr int kLastLane = kPressureSweeps - 1;
    const int tEnd = n + 2 * kLastLane;
    double spare = 0.0;
    for (int t = 1; t <= tEnd; ++t) {
        M mask[kVectors] = {};
        int first = kVectors;
        int last = -1;
        for (int k = 0; k < kVectors; ++k) {
            const int newestColumn = t - 2 * (k * W);
            const int oldestColumn = t - 2 * (k * W + W - 1);
            if (newestColumn >= 1 && oldestColumn <= n + 1) {
                first = std::min(first, k);
                last = k;
            }
            for (int m = 0; m < W; ++m) {
                const int lane = k * W + m;
                const int column = t - 2 * lane;
                mask[k][m] = lane < kPressureSweeps && column >= 1 && column <= n ? -1 : 0;
            }
        }
        // The last sweep's column is final: it goes straight into the grid.
        // Before and after, the copies all go to one spare value.
        const int column = t - 2 * kLastLane;
        const bool final = column >= 1 && column <= n;
        double *finalColumn = final ? g.pressure + column : &spare;
        const std::size_t finalStride = final ? g.pressureStride : 0;
        if (first <= last) {
            pressureTimeOf<W>(g, t, first, last - first + 1, mask, finalColumn, finalStride);
        }
    }
}

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

struct RowExtentKernel {
    static constexpr bool kWide = true;
    template <int W> static VELLORAN_INLINE void run(const RowExtentPlan &plan) {
        rowExtentLanes<W>(plan.row, plan.count, *plan.largest, *plan.notFinite);
    }
};
struct BlurRowsKernel {
    static constexpr bool kWide = true;
    template <int W> static VELLORAN_INLINE void run(const BlurPlan &plan, int begin, int end) {
        blurRowsLanes<W>(plan, begin, end);
    }
};
struct BlurColumnsKernel {
    static constexpr bool kWide = true;
    template <int W> static VELLORAN_INLINE void run(const BlurPlan &plan, int begin, int end) {
        blurColumnsLanes<W>(plan, begin, end);
    }
};
struct PressureKernel {
    static constexpr bool kWide = false;
    template <int W> static VELLORAN_INLINE void run(const PressurePlan &plan) {
        pressureSweepsLanes<W>(plan);
    }
};
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

void rowExtent(SimdLevel level, const RowExtentPlan &plan) {
    LaneDispatch<RowExtentKernel>::run(level, plan);
}
void blurRows(SimdLevel level, const BlurPlan &plan, int begin, int end) {
    LaneDispatch<BlurRowsKernel>::run(level, plan, begin, end);
}
void blurColumns(SimdLevel level, const BlurPlan &plan, int begin, int end) {
    LaneDispatch<BlurColumnsKernel>::run(level, plan, begin, end);
}
void pressureSweeps(SimdLevel level, const PressurePlan &plan) {
    LaneDispatch<PressureKernel>::run(level, plan);
}
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

} // namespace kernels
} // namespace velloran
