// The sound scheme's gathering, as transport: smoke moves across each face
// from the side where it exceeds the target more to the side where it exceeds
// it less, at a speed proportional to the gathering weight on the face
// (gatherweight.h), carrying the density of the cell it leaves.

#include "soundscheme.h"

#include "flow.h"
#include "smokefield.h"
#include "soundkernels.h"
#include "soundsubcycles.h"
#include "stepping.h"

#include <utility>

namespace velloran {

// Twin: ReferenceSolver::gatherSmokeSound.
void SoundScheme::gatherSmokeSound(SmokeField &smoke) {
    const Lattice &lattice = m_run.m_lattice;
    for (const Grid *grid : {smoke.m_density.get(), smoke.m_target.get(), smoke.m_densityDiff.get(),
                             m_rhoScratch.get(), m_diffScratch.get()}) {
        requireShape(*grid, lattice.cells());
    }
    for (const Grid *grid : {m_gatherCoefX.get(), m_gatherRateX.get()}) {
        requireShape(*grid, lattice.xFaces());
    }
    for (const Grid *grid : {m_gatherCoefY.get(), m_gatherRateY.get()}) {
        requireShape(*grid, lattice.yFaces());
    }
    gatherCoefficients(smoke);
    // No smoke is gathered through the faces of solid cells.
    if (m_flow.m_obstacles) {
        m_flow.m_obstacles->closeFaces(*m_gatherCoefX, *m_gatherCoefY);
        m_flow.m_obstacles->closeFaces(*m_gatherRateX, *m_gatherRateY);
    }
    if (m_run.m_gathering == Gathering::Implicit) {
        gatherImplicit(smoke);
    } else {
        gatherExplicit(smoke);
    }
}

// Per face: w = coef (D_L - D_R) and, for the explicit integrator alone, the
// rate a = vg b_f / h^2 of its sub-step rule, b_f the mean gathering weight on
// the face; and D.
void SoundScheme::gatherCoefficients(SmokeField &smoke) {
    const Grid &rho = *smoke.m_density;
    const Grid &target = *smoke.m_target;
    const Grid &blurTarget = smoke.gatherWeight(m_run);
    requireShape(blurTarget, m_run.m_lattice.cells());
    Grid &diff = *smoke.m_densityDiff;
    Grid &coefX = *m_gatherCoefX;
    Grid &coefY = *m_gatherCoefY;
    Grid &rateX = *m_gatherRateX;
    Grid &rateY = *m_gatherRateY;
    const std::uint32_t n = m_run.m_lattice.n;
    const double h = m_run.m_h;
    const double vgOverH = m_run.m_vg / h;
    const double hSquared = h * h;
    const double vg = m_run.m_vg;
    const bool rates = m_run.m_gathering == Gathering::Explicit;

    m_run.forSimpleRows(1, static_cast<int>(m_run.m_lattice.wall), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *b = rowOf(blurTarget, j);
            const double *bBelow = rowOf(blurTarget, j - 1);
            double *cx = rowOf(coefX, j);
            double *rx = rowOf(rateX, j);
            for (std::uint32_t i = 2; i <= n; ++i) {
                cx[i] = vgOverH * (0.5 * (b[i - 1] + b[i]));
            }
            if (rates) {
                for (std::uint32_t i = 2; i <= n; ++i) {
                    rx[i] = vg * (0.5 * (b[i - 1] + b[i])) / hSquared;
                }
            }
            if (j >= 2) {
                double *cy = rowOf(coefY, j);
                double *ry = rowOf(rateY, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    cy[i] = vgOverH * (0.5 * (bBelow[i] + b[i]));
                }
                if (rates) {
                    for (std::uint32_t i = 1; i <= n; ++i) {
                        ry[i] = vg * (0.5 * (bBelow[i] + b[i])) / hSquared;
                    }
                }
            }
            const double *r = rowOf(rho, j);
            const double *t = rowOf(target, j);
            double *d = rowOf(diff, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                d[i] = r[i] - t[i];
            }
        }
    });
}

// Forward Euler sub-steps of the donor-cell flux, each as long as positivity
// and monotonicity allow: dt_s max K <= 1. Twin: ReferenceSolver::gatherExplicit.
void SoundScheme::gatherExplicit(SmokeField &smoke) {
    const int rows = static_cast<int>(m_run.m_lattice.n);
    kernels::GatherPlan plan;
    plan.n = rows;
    plan.target = smoke.m_target->data();
    plan.coefX = m_gatherCoefX->data();
    plan.coefY = m_gatherCoefY->data();
    plan.rateX = m_gatherRateX->data();
    plan.rateY = m_gatherRateY->data();
    plan.scratch = m_soundRows.data();
    plan.scratchStride = m_run.m_lattice.faceSide;
    Grid *rhoFrom = smoke.m_density.get();
    Grid *rhoTo = m_rhoScratch.get();
    Grid *diffFrom = smoke.m_densityDiff.get();
    Grid *diffTo = m_diffScratch.get();
    const SimdLevel simd = m_run.m_simd;

    const double dt = m_run.m_dt;
    double left = dt;
    int steps = 0;
    bool capped = false;
    while (left > 0.0) {
        plan.rho = rhoFrom->data();
        plan.diff = diffFrom->data();
        const double largest = largestOf(m_run.largestOver(1, rows + 1, [&](int begin, int end) {
            return kernels::gatherRateRows(simd, plan, begin, end);
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
        plan.lambda = sub / m_run.m_h;
        m_run.forRows(1, rows + 1, [&](int begin, int end, int thread) {
            kernels::gatherUpdateRows(simd, plan, begin, end, thread);
        });
        std::swap(rhoFrom, rhoTo);
        std::swap(diffFrom, diffTo);
        left = left - sub;
        ++steps;
    }
    if (rhoFrom != smoke.m_density.get()) {
        copyInterior(*rhoFrom, *smoke.m_density);
        copyInterior(*diffFrom, *smoke.m_densityDiff);
    }
    m_run.m_substeps.gathering = steps;
    if (capped) {
        m_run.m_hitSubcycleCap = true;
        return;
    }
    fillBoundary(kScalar, *smoke.m_density);
}

// One step of linearised backward Euler along every x line, then along every
// y line of the result; see gatherLine. Twin: ReferenceSolver::gatherImplicit.
void SoundScheme::gatherImplicit(SmokeField &smoke) {
    Grid &rho = *smoke.m_density;
    const Grid &target = *smoke.m_target;
    Grid &diff = *smoke.m_densityDiff;
    const Lattice &lattice = m_run.m_lattice;
    const std::uint32_t n = lattice.n;
    const int rows = static_cast<int>(n);
    const auto cs = static_cast<std::ptrdiff_t>(lattice.cellSide);
    const auto xs = static_cast<std::ptrdiff_t>(lattice.faceSide);
    kernels::GatherLinesPlan plan;
    plan.m = rows;
    plan.lambda = m_run.m_dt / m_run.m_h;
    plan.scratch = m_lineScratch.data();
    plan.scratchStride = m_lineScratch.size() / static_cast<std::size_t>(m_run.m_threadCount);
    plan.rho = rho.data() + cs + 1;
    plan.target = target.data() + cs + 1;
    const SimdLevel simd = m_run.m_simd;
    // Rows: line j starts at cell (1, j + 1); faces (k + 1, j + 1) of the x grid.
    kernels::GatherLinesPlan xLines = plan;
    xLines.coef = m_gatherCoefX->data() + xs + 1;
    xLines.cellStep = 1;
    xLines.lineStep = cs;
    xLines.coefCellStep = 1;
    xLines.coefLineStep = xs;
    m_run.forRows(0, rows, [&](int begin, int end, int thread) {
        kernels::gatherLines(simd, xLines, begin, end, thread);
    });
    // Columns: line i starts at cell (i + 1, 1); faces (i + 1, k + 1) of the y grid.
    kernels::GatherLinesPlan yLines = plan;
    yLines.coef = m_gatherCoefY->data() + cs + 1;
    yLines.cellStep = cs;
    yLines.lineStep = 1;
    yLines.coefCellStep = cs;
    yLines.coefLineStep = 1;
    m_run.forRows(0, rows, [&](int begin, int end, int thread) {
        kernels::gatherLines(simd, yLines, begin, end, thread);
    });
    m_run.forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *rr = rowOf(rho, j);
            const double *tt = rowOf(target, j);
            double *d = rowOf(diff, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                d[i] = rr[i] - tt[i];
            }
        }
    });
    m_run.m_substeps.gathering = 1;
    // Smoke that was not finite cannot be gathered; the run has blown up.
    if (!allFinite(rho)) {
        m_run.m_hitSubcycleCap = true;
        return;
    }
    fillBoundary(kScalar, rho);
}

} // namespace velloran
