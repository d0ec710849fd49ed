// The sound scheme's implicit gathering along lines (soundkernels.h).

#include "soundlanes.h"

#include <algorithm>
#include <cstring>

namespace velloran::kernels {
namespace {

using namespace sound; // the lane helpers and load, store, splat, minOf, maxOf

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

    static std::ptrdiff_t at(int k) { return static_cast<std::ptrdiff_t>(k) * L; }

    // Per face k = 1..m-1: the donor-cell flux of the old values and the
    // coefficients alpha, beta of its linearisation (0 at the ends).
    VELLORAN_INLINE void faceTerms(const double *rho, const double *target, const double *coef,
                                   double *flux, double *alpha, double *beta) const {
        const int m = p.m;
        const std::ptrdiff_t cs = p.cellStep;
        const std::ptrdiff_t ks = p.coefCellStep;
        const Lanes<L> zero{};
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
    }

    // The tridiagonal systems of the backward Euler step of G groups of lines,
    // by elimination; the change of every cell into each group's `solution`.
    // The elimination is a chain of dependent divisions per line, bound by
    // their latency: the groups' chains are interleaved to keep G in flight.
    // Group g's arrays are `stride` after group g - 1's.
    template <int G>
    VELLORAN_INLINE void solve(const double *flux, const double *alpha, const double *beta,
                               double *upper, double *solution, std::size_t stride) const {
        const int m = p.m;
        const Lanes<L> lambda = splat<L>(p.lambda);
        const Lanes<L> minusLambda = splat<L>(-p.lambda);
        const Lanes<L> one = splat<L>(1.0);
        for (int i = 0; i < m; ++i) {
            for (int g = 0; g < G; ++g) {
                const std::size_t o = g * stride;
                const Lanes<L> lower = minusLambda * load<L>(alpha + o + at(i));
                const Lanes<L> diagonal =
                    one + lambda * (load<L>(alpha + o + at(i + 1)) + load<L>(beta + o + at(i)));
                const Lanes<L> up = minusLambda * load<L>(beta + o + at(i + 1));
                const Lanes<L> rhs =
                    minusLambda * (load<L>(flux + o + at(i + 1)) - load<L>(flux + o + at(i)));
                if (i == 0) {
                    store<L>(upper + o, up / diagonal);
                    store<L>(solution + o, rhs / diagonal);
                } else {
                    const Lanes<L> pivot = diagonal - lower * load<L>(upper + o + at(i - 1));
                    store<L>(upper + o + at(i), up / pivot);
                    store<L>(solution + o + at(i),
                             (rhs - lower * load<L>(solution + o + at(i - 1))) / pivot);
                }
            }
        }
        for (int i = m - 2; i >= 0; --i) {
            for (int g = 0; g < G; ++g) {
                const std::size_t o = g * stride;
                store<L>(solution + o + at(i),
                         load<L>(solution + o + at(i)) -
                             load<L>(upper + o + at(i)) * load<L>(solution + o + at(i + 1)));
            }
        }
    }

    // G groups of L lines; group g's cell 0 is at rho[g] / target[g] and its
    // face coefficients start at coef[g]. Scratch: 6 (m + 2) L G doubles.
    template <int G>
    VELLORAN_INLINE void run(double *const *rho, const double *const *target,
                             const double *const *coef, double *scratch) const {
        const int m = p.m;
        const std::ptrdiff_t cs = p.cellStep;
        const auto size = static_cast<std::size_t>(m + 2) * L;
        const std::size_t stride = 6 * size;
        const Lanes<L> zero{};
        const Lanes<L> lambda = splat<L>(p.lambda);
        const Lanes<L> one = splat<L>(1.0);
        for (int g = 0; g < G; ++g) {
            double *flux = scratch + g * stride;
            faceTerms(rho[g], target[g], coef[g], flux, flux + size, flux + 2 * size);
        }
        solve<G>(scratch, scratch + size, scratch + 2 * size, scratch + 3 * size,
                 scratch + 4 * size, stride);
        for (int g = 0; g < G; ++g) {
            double *flux = scratch + g * stride;
            const double *alpha = flux + size;
            const double *beta = alpha + size;
            double *solution = flux + 4 * size;
            double *scale = flux + 5 * size;
            double *cells = rho[g];
            for (int k = 1; k < m; ++k) {
                store<L>(flux + at(k), load<L>(flux + at(k)) +
                                           load<L>(alpha + at(k)) * load<L>(solution + at(k - 1)) -
                                           load<L>(beta + at(k)) * load<L>(solution + at(k)));
            }
            double *next = solution;
            Lanes<L> negative = zero;
            for (int i = 0; i < m; ++i) {
                const Lanes<L> value = load<L>(cells + i * cs) -
                                       lambda * (load<L>(flux + at(i + 1)) - load<L>(flux + at(i)));
                store<L>(next + at(i), value);
                negative = value < zero ? one : negative;
            }
            for (int lane = 0; lane < L; ++lane) {
                if (negative[lane] != 0.0) {
                    limitOutflows(m, flux + lane, cells + lane, cs, p.lambda, next + lane,
                                  scale + lane, L);
                }
            }
            for (int i = 0; i < m; ++i) {
                store<L>(cells + i * cs, load<L>(next + at(i)));
            }
        }
    }
};

// Where a group of lines starts: its first cell, target value and face
// coefficient.
struct LineStart {
    double *rho;
    const double *target;
    const double *coef;
};

template <int W> struct GatherLinesRun {
    const GatherLinesPlan p;

    // G groups through `gather`, group g starting at start(g).
    template <int G, int L, class Start>
    static VELLORAN_INLINE void groups(const LineGather<L> &gather, Start start, double *scratch) {
        double *rho[G];
        const double *target[G];
        const double *coef[G];
        for (int g = 0; g < G; ++g) {
            const LineStart at = start(g);
            rho[g] = at.rho;
            target[g] = at.target;
            coef[g] = at.coef;
        }
        gather.template run<G>(rho, target, coef, scratch);
    }

    // Lines in groups of W, two groups at a time (LineGather::solve), then
    // one group, then one line at a time.
    VELLORAN_INLINE void rows(int begin, int end, int part) const {
        double *scratch = p.scratch + static_cast<std::size_t>(part) * p.scratchStride;
        int line = begin;
        // Lines side by side in memory share vectors; others go one at a time.
        if (p.lineStep == 1) {
            const LineGather<W> wide{p};
            const auto start = [&](int g) {
                const int first = line + g * W;
                return LineStart{p.rho + first, p.target + first, p.coef + first * p.coefLineStep};
            };
            for (; line + 2 * W <= end; line += 2 * W) {
                groups<2>(wide, start, scratch);
            }
            for (; line + W <= end; line += W) {
                groups<1>(wide, start, scratch);
            }
        }
        // Lines apart in memory (rows): W of them copied side by side into
        // lanes, solved together and copied back. Each lane does the single
        // line's operations, so the bits are the same.
        if (p.lineStep != 1 && W > 1) {
            const int m = p.m;
            const auto size = static_cast<std::size_t>(m + 2) * W;
            GatherLinesPlan lanesPlan = p;
            lanesPlan.cellStep = W;
            lanesPlan.coefCellStep = W;
            const LineGather<W> packed{lanesPlan};
            // Group g's packed rho, target and coef after every group's six
            // working arrays.
            double *lanes = scratch + 12 * size;
            const auto pack = [&](int first, int g) {
                double *rhoLanes = lanes + 3 * g * size;
                for (int lane = 0; lane < W; ++lane) {
                    const double *r = p.rho + (first + lane) * p.lineStep;
                    const double *t = p.target + (first + lane) * p.lineStep;
                    const double *c = p.coef + (first + lane) * p.coefLineStep;
                    for (int k = 0; k < m; ++k) {
                        rhoLanes[k * W + lane] = r[k * p.cellStep];
                        rhoLanes[size + k * W + lane] = t[k * p.cellStep];
                        rhoLanes[2 * size + k * W + lane] = c[k * p.coefCellStep];
                    }
                }
            };
            const auto unpack = [&](int first, int g) {
                const double *rhoLanes = lanes + 3 * g * size;
                for (int lane = 0; lane < W; ++lane) {
                    double *r = p.rho + (first + lane) * p.lineStep;
                    for (int k = 0; k < m; ++k) {
                        r[k * p.cellStep] = rhoLanes[k * W + lane];
                    }
                }
            };
            const auto start = [&](int g) {
                double *rhoLanes = lanes + 3 * g * size;
                return LineStart{rhoLanes, rhoLanes + size, rhoLanes + 2 * size};
            };
            for (; line + 2 * W <= end; line += 2 * W) {
                pack(line, 0);
                pack(line + W, 1);
                groups<2>(packed, start, scratch);
                unpack(line, 0);
                unpack(line + W, 1);
            }
            for (; line + W <= end; line += W) {
                pack(line, 0);
                groups<1>(packed, start, scratch);
                unpack(line, 0);
            }
        }
        const LineGather<1> single{p};
        const auto one = [&](int) {
            return LineStart{p.rho + line * p.lineStep, p.target + line * p.lineStep,
                             p.coef + line * p.coefLineStep};
        };
        for (; line < end; ++line) {
            groups<1>(single, one, scratch);
        }
    }
};

struct GatherLinesKernel {
    static constexpr bool kWide = false;
    template <int W>
    static VELLORAN_INLINE void run(const GatherLinesPlan &plan, int begin, int end, int part) {
        GatherLinesRun<W>{plan}.rows(begin, end, part);
    }
};

} // namespace

void gatherLines(SimdLevel level, const GatherLinesPlan &plan, int begin, int end, int part) {
    LaneDispatch<GatherLinesKernel>::run(level, plan, begin, end, part);
}

} // namespace velloran::kernels
