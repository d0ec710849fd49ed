// The literal scheme's pressure sweeps as one wavefront (kernels.h).

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
// Entry points: one kernel struct per loop, dispatched by lane flavour.

struct PressureKernel {
    static constexpr bool kWide = false;
    template <int W> static VELLORAN_INLINE void run(const PressurePlan &plan) {
        pressureSweepsLanes<W>(plan);
    }
};

} // namespace

void pressureSweeps(SimdLevel level, const PressurePlan &plan) {
    LaneDispatch<PressureKernel>::run(level, plan);
}

} // namespace velloran::kernels
