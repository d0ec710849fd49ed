// The literal scheme's projection: 20 Gauss-Seidel sweeps from zero, run as
// one wavefront, and the pressure gradient removed from the faces.

#include "literalscheme.h"

#include "flow.h"
#include "literalpressure.h"
#include "stepping.h"

#include <algorithm>

namespace velloran {

using kernels::PressurePlan;

// Removes the gradient of a pressure potential so the flow is (nearly)
// divergence-free. A fixed 20 Gauss-Seidel sweeps from zero bound the cost of a
// step; no residual is measured. Twin: ReferenceSolver::project.
void LiteralScheme::project() {
    const Lattice &lattice = m_run.m_lattice;
    const std::uint32_t n = lattice.n;
    Grid &p = *m_flow.m_pressure;
    requireShape(p, lattice.cells());
    requireShape(*m_flow.m_u, lattice.xFaces());
    requireShape(*m_flow.m_v, lattice.yFaces());

    zeroPressureFrame();
    fillDivergence();

    std::fill(m_pressureRing.begin(), m_pressureRing.end(), 0.0);
    const std::size_t ringSize = lattice.cellSide * pressureLaneStride();
    const std::size_t skewStride = pressureSkewStride(n);
    PressurePlan plan;
    plan.n = static_cast<int>(n);
    plan.weight = static_cast<double>(0.25f);
    for (int k = 0; k < 3; ++k) {
        plan.ring[k] = cacheAligned(m_pressureRing) + static_cast<std::size_t>(k) * ringSize;
    }
    plan.laneStride = pressureLaneStride();
    plan.skew[0] = m_pressureSkew.data();
    plan.skew[1] = m_pressureSkew.data() + lattice.cellSide * skewStride;
    plan.skewStride = skewStride;
    plan.skewOrigin = pressureSkewOrigin(n);
    plan.pressure = p.data();
    plan.pressureStride = lattice.cellSide;
    kernels::pressureSweeps(m_run.m_simd, plan);

    // The gradient step sees zero normal gradient at the walls, so the wall
    // faces keep their velocities.
    fillBoundary(kScalar, p);
    subtractGradient();
}

// The sweeps start from zero and never write the frame; the wavefront
// writes every interior entry.
void LiteralScheme::zeroPressureFrame() {
    Grid &p = *m_flow.m_pressure;
    const Lattice &lattice = m_run.m_lattice;
    double *bottom = rowOf(p, 0);
    double *top = rowOf(p, lattice.wall);
    std::fill(bottom, bottom + lattice.cellSide, 0.0);
    std::fill(top, top + lattice.cellSide, 0.0);
    for (std::uint32_t j = 1; j <= lattice.n; ++j) {
        double *row = rowOf(p, j);
        row[0] = 0.0;
        row[lattice.wall] = 0.0;
    }
}

// The divergence term of every cell, the same in all sweeps, stored so that
// each time step of the wavefront finds its lanes side by side: columns of
// one parity, in decreasing order.
void LiteralScheme::fillDivergence() {
    const Grid &u = *m_flow.m_u;
    const Grid &v = *m_flow.m_v;
    const double h = m_run.m_h;
    const Lattice &lattice = m_run.m_lattice;
    const std::uint32_t n = lattice.n;
    const int origin = pressureSkewOrigin(n);
    const std::size_t skewStride = pressureSkewStride(n);
    double *skew[2] = {m_pressureSkew.data(),
                       m_pressureSkew.data() + lattice.cellSide * skewStride};
    m_run.forSimpleRows(1, static_cast<int>(lattice.wall), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *uRow = rowOf(u, j);
            const double *vRow = rowOf(v, j);
            const double *vAbove = rowOf(v, j + 1);
            for (std::uint32_t parity = 0; parity < 2; ++parity) {
                double *lanes = skew[parity] + j * skewStride + origin;
                for (std::uint32_t i = parity == 0 ? 2 : 1; i <= n; i += 2) {
                    *(lanes - (i - parity) / 2) = h * (vRow[i] + uRow[i] - uRow[i + 1] - vAbove[i]);
                }
            }
        }
    });
}

void LiteralScheme::subtractGradient() {
    Grid &u = *m_flow.m_u;
    Grid &v = *m_flow.m_v;
    kernels::FaceDifferencePlan gradient;
    gradient.mode = kernels::FaceDifferenceMode::Subtract;
    gradient.n = static_cast<int>(m_run.m_lattice.n);
    gradient.cells = m_flow.m_pressure->data();
    gradient.xFaces = u.data();
    gradient.yFaces = v.data();
    gradient.divisor = m_run.m_h;
    const SimdLevel simd = m_run.m_simd;
    m_run.forSimpleRows(
        1, static_cast<int>(m_run.m_lattice.cellSide),
        [&](int begin, int end, int) { kernels::faceDifferences(simd, gradient, begin, end); });
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

} // namespace velloran
