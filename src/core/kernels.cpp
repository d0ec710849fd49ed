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
// One block of B = 8 W outputs from i0 of a row's horizontal pass (see
// blurRowsLanes): s the source row, t the output row, first..last its smoke.
template <int W>
VELLORAN_INLINE void blurRowBlock(const BlurPlan &b, const double *s, double *t, int i0, int first,
                                  int last, double largest) {
    using V = typename lanes::Vec<W>::V;
    constexpr int U = 8; // independent sums per block: enough to hide the adds' latency
    constexpr int B = U * W;
    const int r = b.radius;
    const int cBegin = std::max(first, i0 - b.reach);
    const int cEnd = std::min(last, i0 + B - 1 + b.reach);
    V acc[U] = {};
    // Output i0 + l weighs column c with kernel[c - i0 - l + r], that is, the
    // weights for column c start at entry a of the reversed kernel; they are
    // read from the copy that puts it on a vector boundary.
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

template <int W> VELLORAN_INLINE void blurRowsLanes(const BlurPlan &b, int begin, int end) {
    constexpr int B = 8 * W; // outputs per block (blurRowBlock)
    const int cols = b.cols;
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
        for (int i0 = 0; i0 < cols; i0 += B) {
            blurRowBlock<W>(b, s, t, i0, first, last, b.srcRowMax[j]);
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

} // namespace kernels
} // namespace velloran
