#include "soundscheme.h"

#include "balancingblocks.h"
#include "flow.h"
#include "gatherbudget.h"
#include "neumannpoisson.h"
#include "obstaclepoisson.h"
#include "smokefield.h"
#include "soundkernels.h"
#include "soundsubcycles.h"
#include "stepping.h"

#include <algorithm>
#include <utility>

namespace velloran {

using kernels::Extent;

SoundScheme::SoundScheme(Stepping &stepping, Flow &flow)
    : m_run(stepping)
    , m_flow(flow) {
    const Lattice &lattice = stepping.m_lattice;
    m_gatherCoefX = makeGrid(lattice.xFaces());
    m_gatherCoefY = makeGrid(lattice.yFaces());
    m_gatherRateX = makeGrid(lattice.xFaces());
    m_gatherRateY = makeGrid(lattice.yFaces());
    m_rhoScratch = makeGrid(lattice.cells());
    m_diffScratch = makeGrid(lattice.cells());
    m_uScratch = makeGrid(lattice.xFaces());
    m_vScratch = makeGrid(lattice.yFaces());
    m_poissonRhs.assign(static_cast<std::size_t>(lattice.n) * lattice.n, 0.0);
    threadsChanged();
    obstaclesChanged();
}

SoundScheme::~SoundScheme() = default;

// The per-thread rows and the pressure solvers' scratch, sized for the
// thread count.
void SoundScheme::threadsChanged() {
    const std::uint32_t n = m_run.m_lattice.n;
    const auto parts = static_cast<std::size_t>(m_run.m_threadCount);
    m_soundRows.assign(parts * 3 * m_run.m_lattice.faceSide, 0.0);
    // Nine arrays of up to 8 lanes.
    m_lineScratch.assign(parts * 9 * m_run.m_lattice.cellSide * 8, 0.0);
    m_poisson = std::make_unique<NeumannPoisson>(static_cast<int>(n), m_run.m_threadCount);
    allocateBalancing();
    simdChanged();
}

// The obstacles' matrix is factorised once, here.
void SoundScheme::obstaclesChanged() {
    m_obstaclePoisson.reset();
    m_balanceBlocks.reset();
    m_balancePieces.clear();
    if (m_flow.m_obstacles) {
        m_obstaclePoisson = std::make_unique<ObstaclePoisson>(*m_flow.m_obstacles);
        m_balanceBlocks = std::make_unique<BalancingBlocks>(*m_flow.m_obstacles);
        m_balancePieces.assign(static_cast<std::size_t>(m_balanceBlocks->m_firstNode.back()), 0.0);
    }
}

void SoundScheme::simdChanged() {
    m_poisson->setSimdLevel(m_run.m_simd);
    m_balancePoisson->setSimdLevel(m_run.m_simd);
}

// Twin: the sound half of ReferenceSolver::step. Several fields: each pushes
// the flow with its own balancing force before the flow is carried and
// projected once; then each is carried and gathered by that one flow. The
// transport amounts add up over the fields.
void SoundScheme::step(SmokeFields &smoke) {
    for (const auto &field : smoke) {
        if (!m_run.m_hitSubcycleCap) {
            applyBalancingForce(*field);
        }
    }
    closeWalls();
    if (!m_run.m_hitSubcycleCap) {
        advectVelocitySound();
    }
    if (m_run.m_hitSubcycleCap) {
        return;
    }
    projectNeumann();
    for (const auto &field : smoke) {
        double advected = 0.0;
        if (!m_run.m_hitSubcycleCap) {
            fillBoundary(kScalar, *field->m_density);
            field->snapshotDensity(m_run, true);
            advectDensitySound(*field, &field->densityBefore());
            advected = field->densityChange(m_run);
            m_run.m_transport.advected += advected;
        }
        double gathered = 0.0;
        if (!m_run.m_hitSubcycleCap) {
            field->snapshotDensity(m_run, true);
            gatherSmokeSound(*field);
            gathered = payForGathering(*field, advected);
            m_run.m_transport.gathered += gathered;
        }
        field->m_lastTransport = {advected, gathered};
    }
}

// The gathering spends what the advection earned (gatherbudget.h); returns
// what it moved.
double SoundScheme::payForGathering(SmokeField &smoke, double advected) {
    const double credit = smoke.m_gatherCredit + kGatherBudget * advected;
    const double allowance = gatheringAllowance(credit, advected, m_run.m_dt);
    double gathered = smoke.densityChange(m_run);
    if (gathered > allowance) {
        // Scaled back, the change is the allowance to rounding: that is what
        // it spent (a second sum would cost a pass for the last bits).
        scaleChangeBack(m_run, *smoke.m_density, smoke.densityBefore(),
                        allowance > 0.0 ? allowance / gathered : 0.0);
        fillBoundary(kScalar, *smoke.m_density);
        gathered = allowance;
    }
    smoke.m_gatherCredit = std::max(0.0, credit - gathered);
    return gathered;
}

// Walls are closed before anything is transported: no face on the domain's
// side, nor any face of a solid cell, carries flow, whatever the force put
// there. Twin:
// ReferenceSolver::closeWalls.
void SoundScheme::closeWalls() {
    Grid &u = *m_flow.m_u;
    Grid &v = *m_flow.m_v;
    const Lattice &lattice = m_run.m_lattice;
    for (std::uint32_t j = 1; j <= lattice.n; ++j) {
        u(1, j) = 0.0;
        u(lattice.wall, j) = 0.0;
    }
    for (std::uint32_t i = 1; i <= lattice.n; ++i) {
        v(i, 1) = 0.0;
        v(i, lattice.wall) = 0.0;
    }
    if (m_flow.m_obstacles) {
        m_flow.m_obstacles->closeFaces(u, v);
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// The flow's face grids and their ping-pong halves, proved before the raw
// rows are walked.
void SoundScheme::requireFlowShapes() const {
    const Lattice &lattice = m_run.m_lattice;
    for (const Grid *grid : {m_flow.m_u.get(), m_flow.m_uTmp.get(), m_uScratch.get()}) {
        requireShape(*grid, lattice.xFaces());
    }
    for (const Grid *grid : {m_flow.m_v.get(), m_flow.m_vTmp.get(), m_vScratch.get()}) {
        requireShape(*grid, lattice.yFaces());
    }
}

// Sub-cycles that keep the velocity's transport stable: the largest outflow of
// the face-centred boxes of both components; 0 when beyond the cap.
int SoundScheme::velocitySubcycles(const Grid &u, const Grid &v) {
    const int rows = static_cast<int>(m_run.m_lattice.n);
    const SimdLevel simd = m_run.m_simd;
    kernels::OutflowPlan flow;
    flow.n = rows;
    flow.u = u.data();
    flow.v = v.data();
    Extent outflow = m_run.largestOver(1, rows + 1, [&](int begin, int end) {
        return kernels::uVolumeOutflowRows(simd, flow, begin, end);
    });
    const Extent yOutflow = m_run.largestOver(2, rows + 1, [&](int begin, int end) {
        return kernels::vVolumeOutflowRows(simd, flow, begin, end);
    });
    outflow.nan = outflow.nan || yOutflow.nan;
    if (outflow.largest < yOutflow.largest) {
        outflow.largest = yOutflow.largest;
    }
    return advectionSubcycles(m_run.m_dtOverH, largestOf(outflow));
}

// Both components carried by the whole frozen flow, in conservation form over
// their control volumes (face-centred boxes); the wall faces stay 0. Twin:
// ReferenceSolver::advectVelocitySound.
void SoundScheme::advectVelocitySound() {
    const Lattice &lattice = m_run.m_lattice;
    const int rows = static_cast<int>(lattice.n);
    Grid &ua = *m_flow.m_uTmp;
    Grid &va = *m_flow.m_vTmp;
    requireFlowShapes();
    ua = *m_flow.m_u;
    va = *m_flow.m_v;
    const int cycles = velocitySubcycles(ua, va);
    m_run.m_substeps.velocity = cycles;
    if (cycles == 0) {
        m_run.m_hitSubcycleCap = true;
        return;
    }

    kernels::MomentumPlan plan;
    plan.n = rows;
    plan.ua = ua.data();
    plan.va = va.data();
    plan.lambda = m_run.m_dtOverH / cycles;
    plan.scratch = m_soundRows.data();
    plan.scratchStride = lattice.faceSide;

    Grid *uFrom = m_flow.m_u.get();
    Grid *uTo = m_uScratch.get();
    Grid *vFrom = m_flow.m_v.get();
    Grid *vTo = m_vScratch.get();
    // Rows 1..n of the x-component, then rows 1..n+1 of the y-component (its
    // wall rows are copied), in one job.
    const int xRows = rows;
    const int yRows = rows + 1;
    const SimdLevel simd = m_run.m_simd;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        fillBoundary(kXFace, *uFrom);
        fillBoundary(kYFace, *vFrom);
        kernels::MomentumPlan xPlan = plan;
        xPlan.q = uFrom->data();
        xPlan.out = uTo->data();
        kernels::MomentumPlan yPlan = plan;
        yPlan.q = vFrom->data();
        yPlan.out = vTo->data();
        m_run.forRows(0, xRows + yRows, [&](int begin, int end, int thread) {
            if (begin < xRows) {
                kernels::momentumXRows(simd, xPlan, begin + 1, std::min(end, xRows) + 1, thread);
            }
            if (end > xRows) {
                const int yBegin = std::max(begin, xRows) - xRows + 1;
                kernels::momentumYRows(simd, yPlan, yBegin, end - xRows + 1, thread);
            }
        });
        if (m_flow.m_obstacles) {
            m_flow.m_obstacles->closeFaces(*uTo, *vTo);
        }
        std::swap(uFrom, uTo);
        std::swap(vFrom, vTo);
    }
    if (uFrom != m_flow.m_u.get()) {
        *m_flow.m_u = *uFrom;
        *m_flow.m_v = *vFrom;
    }
    fillBoundary(kXFace, *m_flow.m_u);
    fillBoundary(kYFace, *m_flow.m_v);
}

// The pressure that makes the flow divergence-free with closed walls: the
// Neumann problem, solved directly, then its gradient removed from the
// interior faces (the wall faces are 0 and need no correction). With
// obstacles it is solved on the open cells, and the faces of solid cells,
// which the gradient loop passes over like any other, are closed again. Twin:
// ReferenceSolver::projectNeumann.
void SoundScheme::projectNeumann() {
    Grid &u = *m_flow.m_u;
    Grid &v = *m_flow.m_v;
    Grid &p = *m_flow.m_pressure;
    const Lattice &lattice = m_run.m_lattice;
    requireShape(u, lattice.xFaces());
    requireShape(v, lattice.yFaces());
    requireShape(p, lattice.cells());
    const std::uint32_t n = lattice.n;
    const int rows = static_cast<int>(n);
    const double h = m_run.m_h;
    double *rhs = m_poissonRhs.data();
    m_run.forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *uRow = rowOf(u, j);
            const double *vRow = rowOf(v, j);
            const double *vAbove = rowOf(v, j + 1);
            double *r = rhs + static_cast<std::size_t>(j - 1) * n - 1;
            for (std::uint32_t i = 1; i <= n; ++i) {
                r[i] = h * (uRow[i + 1] - uRow[i] + vAbove[i] - vRow[i]);
            }
        }
    });
    if (m_obstaclePoisson) {
        m_obstaclePoisson->solve(rhs, rhs);
    } else {
        m_poisson->solve(rhs, rhs, m_run.poolFor(n));
    }
    m_run.forSimpleRows(1, rows + 1, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            std::copy(rhs + static_cast<std::size_t>(j - 1) * n,
                      rhs + static_cast<std::size_t>(j) * n, rowOf(p, j) + 1);
        }
    });
    fillBoundary(kScalar, p);
    // A division a face: shared from the flux kernels' threshold on.
    m_run.forRows(1, rows + 2, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *pRow = rowOf(p, j);
            if (j <= n) {
                double *uRow = rowOf(u, j);
                for (std::uint32_t i = 2; i <= n; ++i) {
                    uRow[i] = uRow[i] - (pRow[i] - pRow[i - 1]) / h;
                }
            }
            if (j >= 2 && j <= n) {
                const double *pBelow = rowOf(p, j - 1);
                double *vRow = rowOf(v, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] - (pRow[i] - pBelow[i]) / h;
                }
            }
        }
    });
    if (m_flow.m_obstacles) {
        m_flow.m_obstacles->closeFaces(u, v);
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// Smoke carried by the projected flow: every face flux computed once from the
// old values and applied to both its cells, so the sum over the cells changes
// only by rounding; the wall faces carry nothing. Twin:
// ReferenceSolver::advectDensitySound.
void SoundScheme::advectDensitySound(SmokeField &smoke, const Grid *start) {
    m_run.m_substeps.density = transportDensity(smoke, *m_flow.m_u, *m_flow.m_v, true, start);
}

// The density carried by the face speeds u, v (the limited flux, or the donor
// cell alone), sub-cycled so that no cell's outflow Courant number exceeds the
// limit. Returns the sub-cycles; 0, with the run marked, when they would
// exceed the cap. `start`, when given, is a copy of the density with its
// boundary filled: the first cycle reads it and writes the density, so an odd
// number of cycles (mostly one) ends in the density without a copy back.
int SoundScheme::transportDensity(SmokeField &smoke, const Grid &u, const Grid &v, bool limited,
                                  const Grid *start) {
    const Lattice &lattice = m_run.m_lattice;
    Grid &density = *smoke.m_density;
    requireShape(density, lattice.cells());
    requireShape(*m_rhoScratch, lattice.cells());
    requireShape(u, lattice.xFaces());
    requireShape(v, lattice.yFaces());
    const int rows = static_cast<int>(lattice.n);
    const SimdLevel simd = m_run.m_simd;
    kernels::OutflowPlan flow;
    flow.n = rows;
    flow.u = u.data();
    flow.v = v.data();
    const Extent outflow = m_run.largestOver(1, rows + 1, [&](int begin, int end) {
        return kernels::cellOutflowRows(simd, flow, begin, end);
    });
    const int cycles = advectionSubcycles(m_run.m_dtOverH, largestOf(outflow));
    if (cycles == 0) {
        m_run.m_hitSubcycleCap = true;
        return 0;
    }

    kernels::DensityTransportPlan plan;
    plan.n = rows;
    plan.u = u.data();
    plan.v = v.data();
    plan.lambda = m_run.m_dtOverH / cycles;
    plan.scratch = m_soundRows.data();
    plan.scratchStride = lattice.faceSide;
    const auto carry = [&](const Grid &from, Grid &to) {
        plan.q = from.data();
        plan.out = to.data();
        m_run.forRows(1, rows + 1, [&](int begin, int end, int thread) {
            if (limited) {
                kernels::densityTransportRows(simd, plan, begin, end, thread);
            } else {
                kernels::donorTransportRows(simd, plan, begin, end, thread);
            }
        });
    };
    Grid *from = &density;
    Grid *to = m_rhoScratch.get();
    int cycle = 0;
    if (start != nullptr) {
        carry(*start, density);
        cycle = 1;
    }
    for (; cycle < cycles; ++cycle) {
        fillBoundary(kScalar, *from);
        carry(*from, *to);
        std::swap(from, to);
    }
    if (from != &density) {
        density = *from;
    }
    fillBoundary(kScalar, density);
    return cycles;
}

} // namespace velloran
