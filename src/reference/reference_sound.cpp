// The sound scheme, plain: transport in flux form over every cell with
// closed walls, a solved Neumann projection and conservative gathering, each
// transport stage sub-cycled within its stability limit. docs/method.md has the
// derivation; the comments here say what each loop is for.

#include "reference_solver.h"

#include "balancing.h"
#include "gatherweight.h"
#include "lattice.h"
#include "obstaclepoisson.h"
#include "reference_poisson.h"
#include "reference_walls.h"

#include <algorithm>
#include <cmath>
#include <vector>

using velloran::reference::negativePart;
using velloran::reference::positivePart;
using velloran::reference::zeroSolidFaces;
using velloran::reference::zeroWallFaces;

namespace {

constexpr double kAdvectionCourant = 0.5; // outflow Courant number of one sub-cycle

// Donor-cell flux through a face of speed a: the upwind value carried.
double donorFlux(double qL, double qR, double a) {
    return positivePart(a) * qL + negativePart(a) * qR;
}

// The superbee limiter's slope: 0 unless `up` (the difference behind the
// donor cell) and `across` (the difference across the face) have one sign,
// else that sign times the larger of min(2|up|, |across|) and
// min(|up|, 2|across|).
double superbeeSlope(double up, double across) {
    if (!((up > 0 && across > 0) || (up < 0 && across < 0))) {
        return 0.0;
    }
    const double upSize = std::fabs(up);
    const double acrossSize = std::fabs(across);
    const double size =
        std::max(std::min(2.0 * upSize, acrossSize), std::min(upSize, 2.0 * acrossSize));
    return across > 0 ? size : 0.0 - size;
}

// The smoke's flux through a face: upwind, plus the correction limited by
// the superbee limiter.
double smokeFlux(double qLL, double qL, double qR, double qRR, double a, double lambda) {
    const double up = a > 0 ? qL - qLL : qRR - qR;
    return positivePart(a) * qL + negativePart(a) * qR +
           0.5 * std::fabs(a) * (1 - lambda * std::fabs(a)) * superbeeSlope(up, qR - qL);
}

// The largest sum of a cell's outflow speeds (NaN if any speed is NaN).
double largestCellOutflow(const Grid &u, const Grid &v, std::uint32_t n) {
    double largest = 0.0;
    for (std::uint32_t i = 1; i <= n && !std::isnan(largest); ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double out = positivePart(u(i + 1, j)) + positivePart(-u(i, j)) +
                               positivePart(v(i, j + 1)) + positivePart(-v(i, j));
            largest = std::isnan(out) ? out : std::max(largest, out);
            if (std::isnan(largest)) {
                break;
            }
        }
    }
    return largest;
}

// Sub-cycles that keep the outflow Courant number lambda * S at or below the
// limit; 0 when S is not a finite number (the flow has blown up).
int advectionSubcycles(double lambda, double largestOutflow) {
    const double cycles = std::ceil(lambda * largestOutflow / kAdvectionCourant);
    if (!(cycles <= static_cast<double>(ReferenceSolver::kMaxSubcycles))) {
        return 0;
    }
    return std::max(1, static_cast<int>(cycles));
}

} // namespace

// Walls are closed before anything is transported: no face on the domain's
// side, nor any face of a solid cell, carries flow, whatever the force put
// there.
void ReferenceSolver::closeWalls() {
    Grid &u = *m_u;
    Grid &v = *m_v;
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    zeroWallFaces(u, v, n);
    closeSolidFaces(u, v);
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// The faces of solid cells, in a run with obstacles.
void ReferenceSolver::closeSolidFaces(Grid &xFaces, Grid &yFaces) const {
    if (m_solid) {
        zeroSolidFaces(xFaces, yFaces, *m_solid, velloran::Lattice::of(*m_solid).n);
    }
}

// Largest outflow sum of any control volume of either component (NaN when
// any is NaN).
double ReferenceSolver::largestVolumeOutflow() const {
    const Grid &ua = *m_uTmp;
    const Grid &va = *m_vTmp;
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    double largest = 0.0;
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double east = 0.5 * (ua(i, j) + ua(i + 1, j));
            const double west = 0.5 * (ua(i - 1, j) + ua(i, j));
            const double north = 0.5 * (va(i - 1, j + 1) + va(i, j + 1));
            const double south = 0.5 * (va(i - 1, j) + va(i, j));
            const double out = positivePart(east) + positivePart(-west) + positivePart(north) +
                               positivePart(-south);
            largest = std::isnan(out) ? out : std::max(largest, out);
            if (std::isnan(largest)) {
                break;
            }
        }
    }
    for (std::uint32_t i = 1; i <= n && !std::isnan(largest); ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            const double north = 0.5 * (va(i, j) + va(i, j + 1));
            const double south = 0.5 * (va(i, j - 1) + va(i, j));
            const double east = 0.5 * (ua(i + 1, j - 1) + ua(i + 1, j));
            const double west = 0.5 * (ua(i, j - 1) + ua(i, j));
            const double out = positivePart(north) + positivePart(-south) + positivePart(east) +
                               positivePart(-west);
            largest = std::isnan(out) ? out : std::max(largest, out);
            if (std::isnan(largest)) {
                break;
            }
        }
    }
    return largest;
}

// One sub-cycle of the x-component: x-fluxes at cell centres, y-fluxes at
// corners, carried by the frozen flow.
void ReferenceSolver::momentumCycleX(double lambda) {
    Grid &u = *m_u;
    const Grid &ua = *m_uTmp;
    const Grid &va = *m_vTmp;
    Grid &fc = *m_cellFlux;
    Grid &fk = *m_cornerFlux;
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    fillBoundary(kXFace, u);
    for (std::uint32_t c = 1; c <= n; ++c) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            fc(c, j) = donorFlux(u(c, j), u(c + 1, j), 0.5 * (ua(c, j) + ua(c + 1, j)));
        }
    }
    for (std::uint32_t i = 2; i <= n; ++i) {
        fk(i, 1) = 0.0;
        fk(i, lattice.wall) = 0.0;
        for (std::uint32_t j = 2; j <= n; ++j) {
            fk(i, j) = donorFlux(u(i, j - 1), u(i, j), 0.5 * (va(i - 1, j) + va(i, j)));
        }
    }
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) - lambda * ((fc(i, j) - fc(i - 1, j)) + (fk(i, j + 1) - fk(i, j)));
        }
    }
}

// One sub-cycle of the y-component: y-fluxes at cell centres, x-fluxes at
// corners.
void ReferenceSolver::momentumCycleY(double lambda) {
    Grid &v = *m_v;
    const Grid &ua = *m_uTmp;
    const Grid &va = *m_vTmp;
    Grid &fc = *m_cellFlux;
    Grid &fk = *m_cornerFlux;
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    fillBoundary(kYFace, v);
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t c = 1; c <= n; ++c) {
            fc(i, c) = donorFlux(v(i, c), v(i, c + 1), 0.5 * (va(i, c) + va(i, c + 1)));
        }
    }
    for (std::uint32_t j = 2; j <= n; ++j) {
        fk(1, j) = 0.0;
        fk(lattice.wall, j) = 0.0;
        for (std::uint32_t i = 2; i <= n; ++i) {
            fk(i, j) = donorFlux(v(i - 1, j), v(i, j), 0.5 * (ua(i, j - 1) + ua(i, j)));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            v(i, j) = v(i, j) - lambda * ((fc(i, j) - fc(i, j - 1)) + (fk(i + 1, j) - fk(i, j)));
        }
    }
}

// Both components carried by the whole frozen flow, in conservation form over
// their control volumes (face-centred boxes); the wall faces stay 0.
void ReferenceSolver::advectVelocitySound() {
    Grid &u = *m_u;
    Grid &v = *m_v;
    *m_uTmp = u;
    *m_vTmp = v;

    const double largest = largestVolumeOutflow();
    const int cycles = advectionSubcycles(m_dtOverH, largest);
    m_substeps.velocity = cycles;
    if (cycles == 0) {
        m_hitSubcycleCap = true;
        return;
    }
    const double lambda = m_dtOverH / cycles;

    for (int cycle = 0; cycle < cycles; ++cycle) {
        momentumCycleX(lambda);
        momentumCycleY(lambda);
        closeSolidFaces(u, v);
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// The pressure that makes the flow divergence-free with closed walls: the
// Neumann problem, solved directly, then its gradient removed from the
// interior faces (the wall faces are 0 and need no correction).
void ReferenceSolver::projectNeumann() {
    Grid &u = *m_u;
    Grid &v = *m_v;
    Grid &p = *m_pressure;
    const velloran::Lattice lattice = velloran::Lattice::of(p);
    const std::uint32_t n = lattice.n;
    const double h = m_h;
    double *rhs = m_poissonRhs.data();
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            rhs[(i - 1) + static_cast<std::size_t>(j - 1) * n] =
                h * (u(i + 1, j) - u(i, j) + v(i, j + 1) - v(i, j));
        }
    }
    if (m_obstaclePoisson) {
        m_obstaclePoisson->solve(rhs, rhs);
    } else {
        m_poisson->solve(rhs, rhs);
    }
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            p(i, j) = rhs[(i - 1) + static_cast<std::size_t>(j - 1) * n];
        }
    }
    fillBoundary(kScalar, p);
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) - (p(i, j) - p(i - 1, j)) / h;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            v(i, j) = v(i, j) - (p(i, j) - p(i, j - 1)) / h;
        }
    }
    closeSolidFaces(u, v);
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// Smoke carried by the projected flow: every face flux computed once from the
// old values and applied to both its cells, so the sum over the cells changes
// only by rounding; the wall faces carry nothing.
void ReferenceSolver::advectDensitySound() {
    Grid &rho = *m_density;
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &fx = *m_fluxX;
    Grid &fy = *m_fluxY;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;

    const double largest = largestCellOutflow(u, v, n);
    const int cycles = advectionSubcycles(m_dtOverH, largest);
    m_substeps.density = cycles;
    if (cycles == 0) {
        m_hitSubcycleCap = true;
        return;
    }
    const double lambda = m_dtOverH / cycles;

    for (int cycle = 0; cycle < cycles; ++cycle) {
        fillBoundary(kScalar, rho);
        for (std::uint32_t j = 1; j <= n; ++j) {
            fx(1, j) = 0.0;
            fx(lattice.wall, j) = 0.0;
            for (std::uint32_t i = 2; i <= n; ++i) {
                fx(i, j) = smokeFlux(rho(i - 2, j), rho(i - 1, j), rho(i, j), rho(i + 1, j),
                                     u(i, j), lambda);
            }
        }
        for (std::uint32_t i = 1; i <= n; ++i) {
            fy(i, 1) = 0.0;
            fy(i, lattice.wall) = 0.0;
            for (std::uint32_t j = 2; j <= n; ++j) {
                fy(i, j) = smokeFlux(rho(i, j - 2), rho(i, j - 1), rho(i, j), rho(i, j + 1),
                                     v(i, j), lambda);
            }
        }
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                rho(i, j) =
                    rho(i, j) - lambda * ((fx(i + 1, j) - fx(i, j)) + (fy(i, j + 1) - fy(i, j)));
            }
        }
    }
    fillBoundary(kScalar, rho);
}
