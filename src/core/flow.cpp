#include "flow.h"

#include "stepping.h"

namespace velloran {

Flow::Flow(const Lattice &lattice)
    : m_u(makeGrid(lattice.xFaces()))
    , m_v(makeGrid(lattice.yFaces()))
    , m_uTmp(makeGrid(lattice.xFaces()))
    , m_vTmp(makeGrid(lattice.yFaces()))
    , m_pressure(makeGrid(lattice.cells()))
    , m_uCentre(makeGrid(lattice.cells()))
    , m_vCentre(makeGrid(lattice.cells())) {}

// Twin: ReferenceSolver::centreVelocity.
void Flow::centreVelocity(Stepping &stepping) {
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &uCentre = *m_uCentre;
    Grid &vCentre = *m_vCentre;
    const Lattice &lattice = stepping.m_lattice;
    const std::uint32_t n = lattice.n;
    requireShape(uCentre, lattice.cells());
    requireShape(vCentre, lattice.cells());
    requireShape(u, lattice.xFaces());
    requireShape(v, lattice.yFaces());

    stepping.forSimpleRows(1, static_cast<int>(lattice.wall), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *uRow = rowOf(u, j);
            const double *vRow = rowOf(v, j);
            const double *vAbove = rowOf(v, j + 1);
            double *uc = rowOf(uCentre, j);
            double *vc = rowOf(vCentre, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                uc[i] = 0.5 * (uRow[i] + uRow[i + 1]);
            }
            for (std::uint32_t i = 1; i <= n; ++i) {
                vc[i] = 0.5 * (vRow[i] + vAbove[i]);
            }
        }
    });
    fillBoundary(kXFace, uCentre);
    fillBoundary(kYFace, vCentre);
}

} // namespace velloran
