#include "literalscheme.h"

#include "flow.h"
#include "kernels.h"
#include "literalpressure.h"
#include "smokefield.h"
#include "stepping.h"

#include <algorithm>
#include <cstdint>

namespace velloran {

using kernels::CellFluxMode;
using kernels::CellFluxPlan;
using kernels::FaceFluxPlan;
using kernels::FaceRows;
using kernels::PressurePlan;

namespace {

// Zeroes the entries of a row outside [first, last], the scratch rows a
// kernel left out; a row wholly outside is zeroed whole.
void zeroOutside(double *row, std::uint32_t width, std::uint32_t first, std::uint32_t last,
                 bool inside) {
    if (inside) {
        std::fill(row, row + first, 0.0);
        std::fill(row + last + 1, row + width, 0.0);
    } else {
        std::fill(row, row + width, 0.0);
    }
}

} // namespace

LiteralScheme::LiteralScheme(Stepping &stepping, Flow &flow)
    : m_run(stepping)
    , m_flow(flow) {
    const std::uint32_t n = stepping.m_lattice.n;
    m_pressureRing.assign(3 * stepping.m_lattice.cellSide * pressureLaneStride() + 8, 0.0);
    // Entries that stand for columns outside the grid stay 0 for good.
    m_pressureSkew.assign(2 * stepping.m_lattice.cellSide * pressureSkewStride(n), 0.0);
    threadsChanged();
}

LiteralScheme::~LiteralScheme() = default;

void LiteralScheme::threadsChanged() {
    const std::size_t line = m_run.m_lattice.n + 16;
    const auto parts = static_cast<std::size_t>(m_run.m_threadCount);
    m_faceScratch.assign(parts * 6 * line, 0.0);
    m_faceRows.assign(parts, FaceRows{});
    for (std::size_t part = 0; part < parts; ++part) {
        double *base = m_faceScratch.data() + part * 6 * line;
        m_faceRows[part] = FaceRows{
            base, base + line, base + 2 * line, base + 3 * line, base + 4 * line, base + 5 * line};
    }
}

// Twin: the literal half of ReferenceSolver::step; the flow once, then each
// field in turn carried and gathered by it.
void LiteralScheme::step(SmokeFields &smoke) {
    advectVelocity();
    project();
    for (const auto &field : smoke) {
        field->snapshotDensity(m_run);
        advectDensity(*field);
        const double advected = field->densityChange(m_run);
        field->snapshotDensity(m_run);
        gatherSmoke(*field);
        const double gathered = field->densityChange(m_run);
        m_run.m_transport.advected += advected;
        m_run.m_transport.gathered += gathered;
        field->m_lastTransport = {advected, gathered};
    }
}

// Each velocity component is carried along its own axis only, by its own
// centred values; no cross terms. Results go through zeroed scratch grids, so
// the wall faces and the outermost interior lines come out 0. Twin:
// ReferenceSolver::advectVelocity.
void LiteralScheme::advectVelocity() {
    m_flow.centreVelocity(m_run);

    const Lattice &lattice = m_run.m_lattice;
    const std::uint32_t n = lattice.n;
    Grid &u = *m_flow.m_u;
    Grid &uTmp = *m_flow.m_uTmp;
    Grid &vTmp = *m_flow.m_vTmp;
    requireShape(u, lattice.xFaces());
    requireShape(uTmp, lattice.xFaces());
    requireShape(*m_flow.m_v, lattice.yFaces());
    requireShape(vTmp, lattice.yFaces());

    FaceFluxPlan xPlan;
    FaceFluxPlan yPlan;
    facePlans(&xPlan, &yPlan);

    // The scratch grids are zero outside the updated blocks (x: columns 2..n,
    // rows 2..n-1; y: columns 2..n-1, rows 2..n), and the fields become copies
    // of them. The x pass reads row j of u alone, so each of its rows is copied
    // back as soon as it is done; the y pass reads neighbouring rows of v, which
    // is copied after the job.
    const int rows = static_cast<int>(n);
    const int xRows = static_cast<int>(lattice.cellSide);
    const int yRows = static_cast<int>(lattice.faceSide);
    const SimdLevel simd = m_run.m_simd;
    m_run.forRows(0, xRows + yRows, [&](int begin, int end, int thread) {
        for (int j = begin; j < std::min(end, xRows); ++j) {
            const auto row = static_cast<std::uint32_t>(j);
            double *out = rowOf(uTmp, row);
            const bool inside = j >= 2 && j <= rows - 1;
            if (inside) {
                kernels::advectXFaces(simd, xPlan, j, j + 1, thread);
            }
            zeroOutside(out, lattice.faceSide, 2, n, inside);
            std::copy(out, out + lattice.faceSide, rowOf(u, row));
        }
        const int yBegin = std::max(begin, xRows) - xRows;
        const int yEnd = end - xRows;
        if (yEnd > yBegin) {
            const int blockBegin = std::max(yBegin, 2);
            const int blockEnd = std::min(yEnd, rows + 1);
            if (blockBegin < blockEnd) {
                kernels::advectYFaces(simd, yPlan, blockBegin, blockEnd, thread);
            }
            for (int j = yBegin; j < yEnd; ++j) {
                zeroOutside(rowOf(vTmp, static_cast<std::uint32_t>(j)), lattice.cellSide, 2, n - 1,
                            j >= 2 && j <= rows);
            }
        }
    });
    fillBoundary(kXFace, u);
    *m_flow.m_v = vTmp;
    fillBoundary(kYFace, *m_flow.m_v);
}

// Unsplit transport of the density along both axes from the same old values.
// Leaves the density 0 on a border two entries wide: smoke that reaches it
// leaves the simulation. Twin: ReferenceSolver::advectDensity.
void LiteralScheme::advectDensity(SmokeField &smoke) {
    const Lattice &lattice = m_run.m_lattice;
    const std::uint32_t n = lattice.n;
    requireShape(*smoke.m_density, lattice.cells());
    requireShape(*smoke.m_densityTmp, lattice.cells());
    requireShape(*m_flow.m_u, lattice.xFaces());
    requireShape(*m_flow.m_v, lattice.yFaces());

    CellFluxPlan plan;
    plan.mode = CellFluxMode::AdvectDensity;
    plan.n = static_cast<int>(n);
    plan.q = smoke.m_density->data();
    plan.speedX = m_flow.m_u->data();
    plan.speedY = m_flow.m_v->data();
    plan.out = smoke.m_densityTmp->data();
    plan.cellStride = lattice.cellSide;
    plan.xStride = lattice.faceSide;
    plan.lambda = m_run.m_dtOverH;
    plan.scratch = m_faceRows.data();

    // The scratch is zero outside the block of columns and rows 2..n-1, which
    // the job writes in full; the density then becomes a copy of it.
    const int rows = static_cast<int>(n);
    const SimdLevel simd = m_run.m_simd;
    Grid &rhoTmp = *smoke.m_densityTmp;
    m_run.forRows(0, static_cast<int>(lattice.cellSide), [&](int begin, int end, int thread) {
        const int blockBegin = std::max(begin, 2);
        const int blockEnd = std::min(end, rows);
        if (blockBegin < blockEnd) {
            kernels::cellFlux(simd, plan, blockBegin, blockEnd, thread);
        }
        for (int j = begin; j < end; ++j) {
            zeroOutside(rowOf(rhoTmp, static_cast<std::uint32_t>(j)), lattice.cellSide, 2, n - 1,
                        j >= 2 && j <= rows - 1);
        }
    });

    *smoke.m_density = rhoTmp;
}

// The plans of the velocity's transport: each component by its own centred
// values, into the flow's scratch grids.
void LiteralScheme::facePlans(FaceFluxPlan *xPlan, FaceFluxPlan *yPlan) {
    const Lattice &lattice = m_run.m_lattice;
    xPlan->n = static_cast<int>(lattice.n);
    xPlan->q = m_flow.m_u->data();
    xPlan->speed = m_flow.m_uCentre->data();
    xPlan->out = m_flow.m_uTmp->data();
    xPlan->stride = lattice.faceSide;
    xPlan->speedStride = lattice.cellSide;
    xPlan->lambda = m_run.m_dtOverH;
    xPlan->scratch = m_faceRows.data();

    *yPlan = *xPlan;
    yPlan->q = m_flow.m_v->data();
    yPlan->speed = m_flow.m_vCentre->data();
    yPlan->out = m_flow.m_vTmp->data();
    yPlan->stride = lattice.cellSide;
}

// Works on D = rho - rho*: face speeds are the blurred target times the
// gradient of D; stage one forms T = blurred rho* . rho . (D + flux terms),
// stage two adds vg times the flux-corrected T to the density. The face
// speeds go to the flow's scratch grids, free at this point of the step.
// Twin: ReferenceSolver::gatherSmoke.
void LiteralScheme::gatherSmoke(SmokeField &smoke) {
    const Lattice &lattice = m_run.m_lattice;
    requireShape(*smoke.m_density, lattice.cells());
    requireShape(*smoke.m_target, lattice.cells());
    requireShape(*smoke.m_blurTarget, lattice.cells());
    requireShape(*smoke.m_densityDiff, lattice.cells());
    requireShape(*smoke.m_densityTmp, lattice.cells());
    requireShape(*m_flow.m_uTmp, lattice.xFaces());
    requireShape(*m_flow.m_vTmp, lattice.yFaces());
    gatherSpeeds(smoke);

    // Stage one reads D and writes T; T outside the block is 0, left so by
    // density advection. Stage two reads T and updates the density in place,
    // each cell reading only its own density.
    CellFluxPlan first;
    first.mode = CellFluxMode::GatherFirst;
    first.n = static_cast<int>(lattice.n);
    first.q = smoke.m_densityDiff->data();
    first.speedX = m_flow.m_uTmp->data();
    first.speedY = m_flow.m_vTmp->data();
    first.rho = smoke.m_density->data();
    first.blurTarget = smoke.m_blurTarget->data();
    first.out = smoke.m_densityTmp->data();
    first.cellStride = lattice.cellSide;
    first.xStride = lattice.faceSide;
    first.lambda = m_run.m_dtOverH;
    first.vg = m_run.m_vg;
    first.scratch = m_faceRows.data();

    CellFluxPlan second = first;
    second.mode = CellFluxMode::GatherSecond;
    second.q = smoke.m_densityTmp->data();
    second.out = smoke.m_density->data();

    const int rows = static_cast<int>(lattice.n);
    const SimdLevel simd = m_run.m_simd;
    m_run.forRows(2, rows, [&](int begin, int end, int thread) {
        kernels::cellFlux(simd, first, begin, end, thread);
    });
    m_run.forRows(2, rows, [&](int begin, int end, int thread) {
        kernels::cellFlux(simd, second, begin, end, thread);
    });
}

// D = rho - rho* everywhere, its frame filled; the face speeds from it.
void LiteralScheme::gatherSpeeds(SmokeField &smoke) {
    const Grid &rho = *smoke.m_density;
    const Grid &target = *smoke.m_target;
    Grid &diff = *smoke.m_densityDiff;
    Grid &speedU = *m_flow.m_uTmp;
    Grid &speedV = *m_flow.m_vTmp;
    const Lattice &lattice = m_run.m_lattice;
    m_run.forSimpleRows(0, static_cast<int>(lattice.cellSide), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *r = rowOf(rho, j);
            const double *t = rowOf(target, j);
            double *d = rowOf(diff, j);
            for (std::uint32_t i = 0; i < lattice.cellSide; ++i) {
                d[i] = r[i] - t[i];
            }
        }
    });
    fillBoundary(kScalar, diff);

    kernels::FaceDifferencePlan speeds;
    speeds.mode = kernels::FaceDifferenceMode::Speed;
    speeds.n = static_cast<int>(lattice.n);
    speeds.cells = diff.data();
    speeds.weights = smoke.m_blurTarget->data();
    speeds.xFaces = speedU.data();
    speeds.yFaces = speedV.data();
    speeds.divisor = m_run.m_twoH;
    const SimdLevel simd = m_run.m_simd;
    m_run.forSimpleRows(1, static_cast<int>(lattice.cellSide), [&](int begin, int end, int) {
        kernels::faceDifferences(simd, speeds, begin, end);
    });
    fillBoundary(kXFace, speedU);
    fillBoundary(kYFace, speedV);
}

} // namespace velloran
