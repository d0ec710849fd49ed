// The literal scheme's own sub-steps, each a plain loop in the order the
// scheme is defined.

#include "reference_solver.h"

#include "lattice.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// Advection

// Each velocity component is carried along its own axis only, by its own
// centred values; no cross terms. Results go through zeroed scratch grids, so
// the wall faces and the outermost interior lines come out 0.
void ReferenceSolver::advectVelocity() {
    m_uTmp->SetZero();
    m_vTmp->SetZero();
    centreVelocity();

    const double lambda = m_dtOverH;
    const Grid &uCentre = *m_uCentre;
    const Grid &vCentre = *m_vCentre;
    const velloran::Lattice lattice = velloran::Lattice::of(uCentre);
    const std::uint32_t n = lattice.n;

    {
        const Grid &u = *m_u;
        Grid &uTmp = *m_uTmp;
        for (std::uint32_t i = 2; i <= n; ++i) {
            for (std::uint32_t j = 2; j < n; ++j) {
                uTmp(i, j) =
                    u(i, j) - lambda * limitedFlux(u(i, j), u(i + 1, j), u(i + 2, j), u(i - 1, j),
                                                   u(i - 2, j), uCentre(i - 1, j), uCentre(i, j));
            }
        }
        *m_u = uTmp;
        fillBoundary(kXFace, *m_u);
    }
    {
        const Grid &v = *m_v;
        Grid &vTmp = *m_vTmp;
        for (std::uint32_t i = 2; i < n; ++i) {
            for (std::uint32_t j = 2; j <= n; ++j) {
                vTmp(i, j) =
                    v(i, j) - lambda * limitedFlux(v(i, j), v(i, j + 1), v(i, j + 2), v(i, j - 1),
                                                   v(i, j - 2), vCentre(i, j - 1), vCentre(i, j));
            }
        }
        *m_v = vTmp;
        fillBoundary(kYFace, *m_v);
    }
}

// Unsplit transport of the density along both axes from the same old values.
// Leaves the density 0 on a border two entries wide: smoke that reaches it
// leaves the simulation.
void ReferenceSolver::advectDensity() {
    m_densityTmp->SetZero();

    const double lambda = m_dtOverH;
    const Grid &rho = *m_density;
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &rhoTmp = *m_densityTmp;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;

    for (std::uint32_t i = 2; i < n; ++i) {
        for (std::uint32_t j = 2; j < n; ++j) {
            const double fluxX = limitedFlux(rho(i, j), rho(i + 1, j), rho(i + 2, j), rho(i - 1, j),
                                             rho(i - 2, j), u(i, j), u(i + 1, j));
            const double fluxY = limitedFlux(rho(i, j), rho(i, j + 1), rho(i, j + 2), rho(i, j - 1),
                                             rho(i, j - 2), v(i, j), v(i, j + 1));
            rhoTmp(i, j) = rho(i, j) - lambda * (fluxY + fluxX);
        }
    }
    *m_density = rhoTmp;
}

// ---------------------------------------------------------------------------
// Pressure projection

// Removes the gradient of a pressure potential so the flow is (nearly)
// divergence-free. A fixed 20 Gauss-Seidel sweeps from zero bound the cost of a
// step; no residual is measured.
void ReferenceSolver::project() {
    constexpr int kSweeps = 20;
    const double weight = static_cast<double>(0.25f);
    const double h = m_h;
    Grid &p = *m_pressure;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const velloran::Lattice lattice = velloran::Lattice::of(p);
    const std::uint32_t n = lattice.n;

    p.SetZero();
    // In place, left and lower neighbours from this sweep, right and upper from
    // the previous one. The frame stays 0 during the sweeps.
    for (int sweep = 0; sweep < kSweeps; ++sweep) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                p(i, j) = weight * (p(i, j + 1) + p(i + 1, j) + p(i - 1, j) + p(i, j - 1) +
                                    h * (v(i, j) + u(i, j) - u(i + 1, j) - v(i, j + 1)));
            }
        }
    }
    // The gradient step sees zero normal gradient at the walls, so the wall
    // faces keep their velocities.
    fillBoundary(kScalar, p);

    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) - (p(i, j) - p(i - 1, j)) / h;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
            v(i, j) = v(i, j) - (p(i, j) - p(i, j - 1)) / h;
        }
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// ---------------------------------------------------------------------------
// Smoke gathering

// Works on D = rho - rho*: face speeds are the blurred target times the
// gradient of D; stage one forms T = blurred rho* . rho . (D + flux terms),
// stage two adds vg times the flux-corrected T to the density.
void ReferenceSolver::gatherSmoke() {
    const double lambda = m_dtOverH;
    const Grid &rho = *m_density;
    const Grid &target = *m_target;
    const Grid &blurTarget = *m_blurTarget;
    Grid &diff = *m_densityDiff;
    Grid &speedU = *m_uTmp;
    Grid &speedV = *m_vTmp;
    Grid &t = *m_densityTmp;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;

    for (std::uint32_t i = 0; i < diff.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < diff.NumRows(); ++j) {
            diff(i, j) = rho(i, j) - target(i, j);
        }
    }
    fillBoundary(kScalar, diff);

    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            speedU(i, j) =
                (diff(i, j) - diff(i - 1, j)) * (blurTarget(i, j) + blurTarget(i - 1, j)) / m_twoH;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
            speedV(i, j) =
                (diff(i, j) - diff(i, j - 1)) * (blurTarget(i, j) + blurTarget(i, j - 1)) / m_twoH;
        }
    }
    fillBoundary(kXFace, speedU);
    fillBoundary(kYFace, speedV);

    // Stage one. T outside the block is 0, left so by density advection.
    for (std::uint32_t i = 2; i < n; ++i) {
        for (std::uint32_t j = 2; j < n; ++j) {
            const double gx =
                limitedFlux(diff(i, j), diff(i + 1, j), diff(i + 2, j), diff(i - 1, j),
                            diff(i - 2, j), speedU(i, j), speedU(i + 1, j));
            const double gy =
                limitedFlux(diff(i, j), diff(i, j + 1), diff(i, j + 2), diff(i, j - 1),
                            diff(i, j - 2), speedV(i, j), speedV(i, j + 1));
            t(i, j) = blurTarget(i, j) * rho(i, j) * (diff(i, j) + lambda * (gy + gx));
        }
    }

    // Stage two, in place: each cell reads only its own density.
    Grid &density = *m_density;
    for (std::uint32_t i = 2; i < n; ++i) {
        for (std::uint32_t j = 2; j < n; ++j) {
            const double hx = limitedFlux(t(i, j), t(i + 1, j), t(i + 2, j), t(i - 1, j),
                                          t(i - 2, j), speedU(i, j), speedU(i + 1, j));
            const double hy = limitedFlux(t(i, j), t(i, j + 1), t(i, j + 2), t(i, j - 1),
                                          t(i, j - 2), speedV(i, j), speedV(i, j + 1));
            density(i, j) = density(i, j) + m_vg * (t(i, j) + lambda * (hy + hx));
        }
    }
}
