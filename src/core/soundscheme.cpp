// The sound scheme's sub-steps: transport in flux form over every cell with
// closed walls, a solved Neumann projection and conservative gathering, each
// transport stage sub-cycled within its stability limit. docs/method.md
// derives them; the reference solver states each loop plainly. Here every
// stage reads one buffer and writes another (ping-pong), row by row, so the
// rows can be shared between threads; results equal the plain loops bit for
// bit.

#include "solver.h"

#include "balancing.h"
#include "gatherweight.h"
#include "neumannpoisson.h"
#include "solverrows.h"
#include "soundkernels.h"
#include "workerpool.h"

#include <algorithm>
#include <cmath>
#include <utility>

using velloran::kernels::Extent;

namespace {

constexpr double kAdvectionCourant = 0.5; // outflow Courant number of one sub-cycle
constexpr double kGatheringLimit = 1.0;   // dt_s * max K of one gathering sub-step

std::uint32_t interiorSideOf(const Grid &cellGrid) {
    return cellGrid.NumCols() - 2;
}

double *rowPointer(Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}

const double *rowPointer(const Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}

// The largest value, or NaN when any was NaN (the flow has blown up).
double largestOf(const Extent &extent) {
    return extent.nan ? std::nan("") : extent.largest;
}

// Sub-cycles that keep the outflow Courant number lambda * S at or below the
// limit; 0 when that would exceed the cap or S is not a number.
int advectionSubcycles(double lambda, double largestOutflow) {
    const double cycles = std::ceil(lambda * largestOutflow / kAdvectionCourant);
    if (!(cycles <= static_cast<double>(Solver::kMaxSubcycles))) {
        return 0;
    }
    return std::max(1, static_cast<int>(cycles));
}

// Copies the interior rows 1..rows-2 of src into dst (same shape), frame left alone.
void copyInterior(const Grid &src, Grid &dst) {
    const std::uint32_t cols = src.NumCols();
    for (std::uint32_t j = 1; j + 1 < src.NumRows(); ++j) {
        std::copy(rowPointer(src, j) + 1, rowPointer(src, j) + cols - 1, rowPointer(dst, j) + 1);
    }
}

} // namespace

// Largest of a row kernel's extents over rows [begin, end), shared like any
// loop; max does not depend on the order in which the rows are met.
template <class Kernel> Extent Solver::largestOver(int begin, int end, Kernel kernel) {
    for (Extent &extent : m_extents) {
        extent = Extent{};
    }
    forRows(begin, end, [&](int bandBegin, int bandEnd, int thread) {
        const Extent band = kernel(bandBegin, bandEnd);
        Extent &mine = m_extents[static_cast<std::size_t>(thread)];
        mine.nan = mine.nan || band.nan;
        if (mine.largest < band.largest) {
            mine.largest = band.largest;
        }
    });
    Extent all;
    for (const Extent &extent : m_extents) {
        all.nan = all.nan || extent.nan;
        if (all.largest < extent.largest) {
            all.largest = extent.largest;
        }
    }
    return all;
}

// Walls are closed before anything is transported: no face on the domain's
// side carries flow, whatever the force put there.
void Solver::closeWalls() {
    Grid &u = *m_u;
    Grid &v = *m_v;
    const std::uint32_t n = interiorSideOf(*m_density);
    for (std::uint32_t j = 1; j <= n; ++j) {
        u(1, j) = 0.0;
        u(n + 1, j) = 0.0;
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        v(i, 1) = 0.0;
        v(i, n + 1) = 0.0;
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// Both components carried by the whole frozen flow, in conservation form over
// their control volumes (face-centred boxes); the wall faces stay 0.
void Solver::advectVelocitySound() {
    const std::uint32_t n = interiorSideOf(*m_density);
    const int rows = static_cast<int>(n);
    Grid &ua = *m_uTmp;
    Grid &va = *m_vTmp;
    ua = *m_u;
    va = *m_v;

    const velloran::SimdLevel simd = m_simd;
    velloran::kernels::OutflowPlan flow;
    flow.n = rows;
    flow.u = ua.data();
    flow.v = va.data();
    Extent outflow = largestOver(1, rows + 1, [&](int begin, int end) {
        return velloran::kernels::uVolumeOutflowRows(simd, flow, begin, end);
    });
    const Extent yOutflow = largestOver(2, rows + 1, [&](int begin, int end) {
        return velloran::kernels::vVolumeOutflowRows(simd, flow, begin, end);
    });
    outflow.nan = outflow.nan || yOutflow.nan;
    if (outflow.largest < yOutflow.largest) {
        outflow.largest = yOutflow.largest;
    }
    const int cycles = advectionSubcycles(m_dtOverH, largestOf(outflow));
    m_substeps.velocity = cycles;
    if (cycles == 0) {
        m_hitSubcycleCap = true;
        return;
    }

    velloran::kernels::MomentumPlan plan;
    plan.n = rows;
    plan.ua = ua.data();
    plan.va = va.data();
    plan.lambda = m_dtOverH / cycles;
    plan.scratch = m_soundRows.data();
    plan.scratchStride = n + 3;

    Grid *uFrom = m_u.get();
    Grid *uTo = m_uScratch.get();
    Grid *vFrom = m_v.get();
    Grid *vTo = m_vScratch.get();
    // Rows 1..n of the x-component, then rows 1..n+1 of the y-component (its
    // wall rows are copied), in one job.
    const int xRows = rows;
    const int yRows = rows + 1;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        fillBoundary(kXFace, *uFrom);
        fillBoundary(kYFace, *vFrom);
        velloran::kernels::MomentumPlan xPlan = plan;
        xPlan.q = uFrom->data();
        xPlan.out = uTo->data();
        velloran::kernels::MomentumPlan yPlan = plan;
        yPlan.q = vFrom->data();
        yPlan.out = vTo->data();
        forRows(0, xRows + yRows, [&](int begin, int end, int thread) {
            if (begin < xRows) {
                velloran::kernels::momentumXRows(simd, xPlan, begin + 1, std::min(end, xRows) + 1,
                                                 thread);
            }
            if (end > xRows) {
                const int yBegin = std::max(begin, xRows) - xRows + 1;
                velloran::kernels::momentumYRows(simd, yPlan, yBegin, end - xRows + 1, thread);
            }
        });
        std::swap(uFrom, uTo);
        std::swap(vFrom, vTo);
    }
    if (uFrom != m_u.get()) {
        *m_u = *uFrom;
        *m_v = *vFrom;
    }
    fillBoundary(kXFace, *m_u);
    fillBoundary(kYFace, *m_v);
}

// The pressure that makes the flow divergence-free with closed walls: the
// Neumann problem, solved directly, then its gradient removed from the
// interior faces (the wall faces are 0 and need no correction).
void Solver::projectNeumann() {
    Grid &u = *m_u;
    Grid &v = *m_v;
    Grid &p = *m_pressure;
    const std::uint32_t n = interiorSideOf(p);
    const int rows = static_cast<int>(n);
    const double h = m_h;
    double *rhs = m_poissonRhs.data();
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *uRow = rowPointer(u, j);
            const double *vRow = rowPointer(v, j);
            const double *vAbove = rowPointer(v, j + 1);
            double *r = rhs + static_cast<std::size_t>(j - 1) * n - 1;
            for (std::uint32_t i = 1; i <= n; ++i) {
                r[i] = h * (uRow[i + 1] - uRow[i] + vAbove[i] - vRow[i]);
            }
        }
    });
    const bool parallel = n >= m_parallelSide;
    m_poisson->solve(rhs, rhs, parallel ? m_workers.get() : nullptr);
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            std::copy(rhs + static_cast<std::size_t>(j - 1) * n,
                      rhs + static_cast<std::size_t>(j) * n, rowPointer(p, j) + 1);
        }
    });
    fillBoundary(kScalar, p);
    forSimpleRows(1, rows + 2, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *pRow = rowPointer(p, j);
            if (j <= n) {
                double *uRow = rowPointer(u, j);
                for (std::uint32_t i = 2; i <= n; ++i) {
                    uRow[i] = uRow[i] - (pRow[i] - pRow[i - 1]) / h;
                }
            }
            if (j >= 2 && j <= n) {
                const double *pBelow = rowPointer(p, j - 1);
                double *vRow = rowPointer(v, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] - (pRow[i] - pBelow[i]) / h;
                }
            }
        }
    });
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// Smoke carried by the projected flow: every face flux computed once from the
// old values and applied to both its cells, so the sum over the cells changes
// only by rounding; the wall faces carry nothing.
void Solver::advectDensitySound() {
    m_substeps.density = transportDensity(*m_u, *m_v, true);
}

// The density carried by the face speeds u, v (the limited flux, or the donor
// cell alone), sub-cycled so that no cell's outflow Courant number exceeds the
// limit. Returns the sub-cycles; 0, with the run marked, when they would
// exceed the cap.
int Solver::transportDensity(const Grid &u, const Grid &v, bool limited) {
    const std::uint32_t n = interiorSideOf(*m_density);
    const int rows = static_cast<int>(n);
    const velloran::SimdLevel simd = m_simd;
    velloran::kernels::OutflowPlan flow;
    flow.n = rows;
    flow.u = u.data();
    flow.v = v.data();
    const Extent outflow = largestOver(1, rows + 1, [&](int begin, int end) {
        return velloran::kernels::cellOutflowRows(simd, flow, begin, end);
    });
    const int cycles = advectionSubcycles(m_dtOverH, largestOf(outflow));
    if (cycles == 0) {
        m_hitSubcycleCap = true;
        return 0;
    }

    velloran::kernels::DensityTransportPlan plan;
    plan.n = rows;
    plan.u = u.data();
    plan.v = v.data();
    plan.lambda = m_dtOverH / cycles;
    plan.scratch = m_soundRows.data();
    plan.scratchStride = n + 3;
    Grid *from = m_density.get();
    Grid *to = m_rhoScratch.get();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        fillBoundary(kScalar, *from);
        plan.q = from->data();
        plan.out = to->data();
        forRows(1, rows + 1, [&](int begin, int end, int thread) {
            if (limited) {
                velloran::kernels::densityTransportRows(simd, plan, begin, end, thread);
            } else {
                velloran::kernels::donorTransportRows(simd, plan, begin, end, thread);
            }
        });
        std::swap(from, to);
    }
    if (from != m_density.get()) {
        *m_density = *from;
    }
    fillBoundary(kScalar, *m_density);
    return cycles;
}

// The balancing force (balancing.h): the misfit summed over blocks, phi from
// the Neumann solve on the blocks, interpolated onto the cells; each interior
// face's velocity gains dt times the force per unit of blurred smoke,
// strength grad(phi) across the face, times the face's weight.
void Solver::applyBalancingForce() {
    m_substeps.balancing = 0;
    if (m_vf == 0.0) {
        return;
    }
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    const std::uint32_t n = interiorSideOf(rho);
    const int rows = static_cast<int>(n);
    const std::uint32_t block = velloran::balancingBlock(n);
    const std::uint32_t side = n / block;
    double *misfit = m_balanceMisfit.data();

    // Block sums, each over its columns and within a column over its rows;
    // whether any cell is NaN on the way.
    const double *rhoCells = rho.data();
    const double *targetCells = target.data();
    const std::size_t stride = rho.NumCols();
    const Extent densest = largestOver(0, static_cast<int>(side), [&](int begin, int end) {
        Extent extent;
        for (auto by = static_cast<std::uint32_t>(begin); by < static_cast<std::uint32_t>(end);
             ++by) {
            const std::size_t firstRow = static_cast<std::size_t>(by) * block + 1;
            for (std::uint32_t bx = 0; bx < side; ++bx) {
                const std::size_t firstColumn = static_cast<std::size_t>(bx) * block + 1;
                double sum = 0.0;
                for (std::size_t i = firstColumn; i < firstColumn + block; ++i) {
                    for (std::size_t j = firstRow; j < firstRow + block; ++j) {
                        const double r = rhoCells[i + j * stride];
                        sum = sum + (r - targetCells[i + j * stride]);
                        extent.nan = extent.nan || std::isnan(r);
                        if (extent.largest < r) {
                            extent.largest = r;
                        }
                    }
                }
                misfit[bx + static_cast<std::size_t>(by) * side] = sum;
            }
        }
        return extent;
    });
    if (densest.nan) {
        m_hitSubcycleCap = true;
        return;
    }
    m_balancePoisson->solve(misfit, misfit, side >= m_parallelSide ? m_workers.get() : nullptr);

    // phi at the cells, interpolated between the block centres (balancing.h).
    double *cellPhi = m_balanceCells.data();
    const velloran::BlockSpot *spot = m_balanceSpot.data();
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            double *out = cellPhi + static_cast<std::size_t>(j - 1) * n - 1;
            for (std::uint32_t i = 1; i <= n; ++i) {
                out[i] = velloran::balancingPhiAt(misfit, side, spot[i], spot[j]);
            }
        }
    });

    // u += dt times the force per unit weight, strength grad(phi) at most the
    // push limit, times the face's weight (balancing.h).
    const double scale = m_dt * velloran::balancingStrength(m_vf) * m_h;
    const double limit = velloran::kPushLimit * m_h / m_dt;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const Grid &blurred = *m_blurDensity;
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *b = rowPointer(blurred, j);
            const double *phi = cellPhi + static_cast<std::size_t>(j - 1) * n - 1;
            double *uRow = rowPointer(u, j);
            for (std::uint32_t i = 2; i <= n; ++i) {
                const double push = velloran::limitedPush(scale * (phi[i] - phi[i - 1]), limit);
                uRow[i] = uRow[i] + push * velloran::balancingWeight(0.5 * (b[i - 1] + b[i]));
            }
            if (j >= 2) {
                const double *bBelow = rowPointer(blurred, j - 1);
                const double *phiBelow = phi - n;
                double *vRow = rowPointer(v, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    const double push =
                        velloran::limitedPush(scale * (phi[i] - phiBelow[i]), limit);
                    vRow[i] = vRow[i] + push * velloran::balancingWeight(0.5 * (bBelow[i] + b[i]));
                }
            }
        }
    });
    m_substeps.balancing = 1;
}

// Gathering as transport: smoke moves across each face from the side where it
// exceeds the target more to the side where it exceeds it less, at a speed
// proportional to the blurred target on the face, carrying the density of the
// cell it leaves.
void Solver::gatherSmokeSound() {
    gatherCoefficients();
    if (m_gathering == velloran::Gathering::Implicit) {
        gatherImplicit();
    } else {
        gatherExplicit();
    }
}

// The target blurred as wide as gatherweight.h says, made when first needed
// after the target or sigma changed; the run's own blur when that is as wide.
const Grid &Solver::gatherWeight() {
    const std::uint32_t n = interiorSideOf(*m_target);
    const double sigma = velloran::gatherWeightSigma(n, m_sigma);
    if (sigma == m_sigma) {
        return *m_blurTarget;
    }
    if (m_gatherWeightStale) {
        if (!m_gatherBlur) {
            m_gatherBlur = std::make_unique<BlurFilter>();
            m_gatherBlur->setSimdLevel(m_simd);
            m_gatherWeight = std::make_unique<Grid>(n + 2, n + 2);
        }
        m_gatherBlur->setSigma(sigma);
        m_gatherBlur->setWorkers(nullptr);
        m_gatherBlur->apply(*m_target, *m_gatherWeight);
        velloran::matchBlurScale(*m_gatherWeight, m_blur->kernel(), m_gatherBlur->kernel());
        m_gatherWeightStale = false;
    }
    return *m_gatherWeight;
}

// Per face: w = coef (D_L - D_R) and the rate a = vg b_f / h^2 of the
// explicit sub-step rule, b_f the mean gathering weight on the face; and D.
void Solver::gatherCoefficients() {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    const Grid &blurTarget = gatherWeight();
    Grid &diff = *m_densityDiff;
    Grid &coefX = *m_gatherCoefX;
    Grid &coefY = *m_gatherCoefY;
    Grid &rateX = *m_gatherRateX;
    Grid &rateY = *m_gatherRateY;
    const std::uint32_t n = interiorSideOf(rho);
    const int rows = static_cast<int>(n);
    const double h = m_h;
    const double vgOverH = m_vg / h;
    const double hSquared = h * h;
    const double vg = m_vg;

    // Per face: w = coef (D_L - D_R) and the rate a = vg b_f / h^2 of the
    // sub-step rule, b_f the mean gathering weight on the face; and D itself.
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *b = rowPointer(blurTarget, j);
            const double *bBelow = rowPointer(blurTarget, j - 1);
            double *cx = rowPointer(coefX, j);
            double *rx = rowPointer(rateX, j);
            for (std::uint32_t i = 2; i <= n; ++i) {
                const double face = 0.5 * (b[i - 1] + b[i]);
                cx[i] = vgOverH * face;
                rx[i] = vg * face / hSquared;
            }
            if (j >= 2) {
                double *cy = rowPointer(coefY, j);
                double *ry = rowPointer(rateY, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    const double face = 0.5 * (bBelow[i] + b[i]);
                    cy[i] = vgOverH * face;
                    ry[i] = vg * face / hSquared;
                }
            }
            const double *r = rowPointer(rho, j);
            const double *t = rowPointer(target, j);
            double *d = rowPointer(diff, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                d[i] = r[i] - t[i];
            }
        }
    });
}

// Forward Euler sub-steps of the donor-cell flux, each as long as positivity
// and monotonicity allow: dt_s max K <= 1.
void Solver::gatherExplicit() {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    const std::uint32_t n = interiorSideOf(rho);
    const int rows = static_cast<int>(n);
    const double h = m_h;
    velloran::kernels::GatherPlan plan;
    plan.n = rows;
    plan.target = target.data();
    plan.coefX = m_gatherCoefX->data();
    plan.coefY = m_gatherCoefY->data();
    plan.rateX = m_gatherRateX->data();
    plan.rateY = m_gatherRateY->data();
    plan.scratch = m_soundRows.data();
    plan.scratchStride = n + 3;
    Grid *rhoFrom = m_density.get();
    Grid *rhoTo = m_rhoScratch.get();
    Grid *diffFrom = m_densityDiff.get();
    Grid *diffTo = m_diffScratch.get();
    const velloran::SimdLevel simd = m_simd;

    const double dt = m_dt;
    double left = dt;
    int steps = 0;
    bool capped = false;
    while (left > 0.0) {
        plan.rho = rhoFrom->data();
        plan.diff = diffFrom->data();
        const double largest = largestOf(largestOver(1, rows + 1, [&](int begin, int end) {
            return velloran::kernels::gatherRateRows(simd, plan, begin, end);
        }));
        if (std::isnan(largest) || std::isinf(largest) || steps == kMaxSubcycles) {
            capped = true;
            break;
        }
        double sub = left;
        if (largest > 0.0) {
            sub = std::min(left, kGatheringLimit / largest);
        }
        if (left - sub < 1e-12 * dt) {
            sub = left;
        }
        plan.rhoOut = rhoTo->data();
        plan.diffOut = diffTo->data();
        plan.lambda = sub / h;
        forRows(1, rows + 1, [&](int begin, int end, int thread) {
            velloran::kernels::gatherUpdateRows(simd, plan, begin, end, thread);
        });
        std::swap(rhoFrom, rhoTo);
        std::swap(diffFrom, diffTo);
        left = left - sub;
        ++steps;
    }
    if (rhoFrom != m_density.get()) {
        copyInterior(*rhoFrom, *m_density);
        copyInterior(*diffFrom, *m_densityDiff);
    }
    m_substeps.gathering = steps;
    if (capped) {
        m_hitSubcycleCap = true;
        return;
    }
    fillBoundary(kScalar, rho);
}

// One step of linearised backward Euler along every x line, then along every
// y line of the result; see gatherLine.
void Solver::gatherImplicit() {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    Grid &diff = *m_densityDiff;
    const std::uint32_t n = interiorSideOf(rho);
    const int rows = static_cast<int>(n);
    const auto cs = static_cast<std::ptrdiff_t>(n + 2);
    const auto xs = static_cast<std::ptrdiff_t>(n + 3);
    const double lambda = m_dt / m_h;
    double *r = rho.data();
    const double *t = target.data();
    velloran::kernels::GatherLinesPlan plan;
    plan.m = rows;
    plan.lambda = lambda;
    plan.scratch = m_lineScratch.data();
    plan.scratchStride = m_lineScratch.size() / static_cast<std::size_t>(m_threadCount);
    const velloran::SimdLevel simd = m_simd;
    // Rows: line j starts at cell (1, j + 1); faces (k + 1, j + 1) of the x grid.
    velloran::kernels::GatherLinesPlan xLines = plan;
    xLines.rho = r + cs + 1;
    xLines.target = t + cs + 1;
    xLines.coef = m_gatherCoefX->data() + xs + 1;
    xLines.cellStep = 1;
    xLines.lineStep = cs;
    xLines.coefCellStep = 1;
    xLines.coefLineStep = xs;
    forRows(0, rows, [&](int begin, int end, int thread) {
        velloran::kernels::gatherLines(simd, xLines, begin, end, thread);
    });
    // Columns: line i starts at cell (i + 1, 1); faces (i + 1, k + 1) of the y grid.
    velloran::kernels::GatherLinesPlan yLines = plan;
    yLines.rho = r + cs + 1;
    yLines.target = t + cs + 1;
    yLines.coef = m_gatherCoefY->data() + cs + 1;
    yLines.cellStep = cs;
    yLines.lineStep = 1;
    yLines.coefCellStep = cs;
    yLines.coefLineStep = 1;
    forRows(0, rows, [&](int begin, int end, int thread) {
        velloran::kernels::gatherLines(simd, yLines, begin, end, thread);
    });
    forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *rr = rowPointer(rho, j);
            const double *tt = rowPointer(target, j);
            double *d = rowPointer(diff, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                d[i] = rr[i] - tt[i];
            }
        }
    });
    m_substeps.gathering = 1;
    // Smoke that was not finite cannot be gathered; the run has blown up.
    if (!allFinite(rho)) {
        m_hitSubcycleCap = true;
        return;
    }
    fillBoundary(kScalar, rho);
}
