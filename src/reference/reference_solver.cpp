#include "reference_solver.h"

#include "reference_poisson.h"

#include "balancing.h"
#include "balancingblocks.h"
#include "gatherbudget.h"
#include "lattice.h"
#include "obstaclemap.h"
#include "obstaclepoisson.h"

#include <algorithm>
#include <cmath>

ReferenceSolver::ReferenceSolver(const Grid &srcDensity, const Grid &tgtDensity) {
    VELLORAN_CHECK(srcDensity.NumRows() > 0);
    VELLORAN_CHECK(srcDensity.NumRows() == srcDensity.NumCols());
    VELLORAN_CHECK(srcDensity.NumRows() == tgtDensity.NumRows());
    VELLORAN_CHECK(srcDensity.NumCols() == tgtDensity.NumCols());

    const velloran::Lattice lattice(srcDensity.NumRows());
    m_h = 1.0 / lattice.n;
    m_twoH = 2 * m_h;

    for (auto *grid : {&m_density, &m_target, &m_blurDensity, &m_blurTarget, &m_densityDiff,
                       &m_densityTmp, &m_pressure, &m_uCentre, &m_vCentre}) {
        *grid = velloran::makeGrid(lattice.cells());
    }
    for (auto *grid : {&m_u, &m_driveU, &m_uTmp}) {
        *grid = velloran::makeGrid(lattice.xFaces());
    }
    for (auto *grid : {&m_v, &m_driveV, &m_vTmp}) {
        *grid = velloran::makeGrid(lattice.yFaces());
    }
    velloran::copyIntoFrame(srcDensity, *m_density);
    velloran::copyIntoFrame(tgtDensity, *m_target);
    m_sourceMass = velloran::interiorSum(*m_density);
    m_targetMass = velloran::interiorSum(*m_target);
    velloran::equaliseMass(*m_density, *m_target);

    m_blur = std::make_unique<ReferenceBlurFilter>();
}

ReferenceSolver::~ReferenceSolver() = default;

void ReferenceSolver::setSigma(double sigma) {
    m_blur->setSigma(sigma);
    m_sigma = sigma;
    computeTargetFields();
}

void ReferenceSolver::setObstacles(const Grid &solid) {
    VELLORAN_CHECK(m_scheme == velloran::Scheme::Sound);
    const velloran::ObstacleMap obstacles(velloran::Lattice::of(*m_density), solid);
    m_solid = std::make_unique<Grid>(*obstacles.m_solid);
    m_obstaclePoisson = std::make_unique<velloran::ObstaclePoisson>(obstacles);
    m_balanceBlocks = std::make_unique<velloran::BalancingBlocks>(obstacles);
    velloran::scaleInteriorTo(*m_density, m_sourceMass);
    velloran::scaleInteriorTo(*m_target, m_targetMass);
    obstacles.moveOutOfSolids(*m_density);
    obstacles.clearSolids(*m_target);
    velloran::equaliseMass(*m_density, *m_target);
    if (m_sigma > 0.0) {
        computeTargetFields();
    }
}

void ReferenceSolver::setTarget(const Grid &tgtDensity) {
    Grid open = tgtDensity;
    if (m_solid) {
        for (std::uint32_t i = 0; i < open.NumCols(); ++i) {
            for (std::uint32_t j = 0; j < open.NumRows(); ++j) {
                if ((*m_solid)(i + 1, j + 1) != 0.0) {
                    open(i, j) = 0.0;
                }
            }
        }
    }
    velloran::retarget(open, *m_density, *m_target);
    m_gatherCredit = 0.0;
    computeTargetFields();
}

void ReferenceSolver::setScheme(velloran::Scheme scheme) {
    const bool changed = scheme != m_scheme;
    m_scheme = scheme;
    m_substeps = velloran::SubstepCounts{};
    if (changed && m_sigma > 0.0) {
        computeTargetFields(); // the schemes' driving fields differ
    }
    if (scheme != velloran::Scheme::Sound || m_fluxX) {
        return;
    }
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    for (auto *grid : {&m_fluxX, &m_gatherCoefX, &m_gatherRateX}) {
        *grid = velloran::makeGrid(lattice.xFaces());
    }
    for (auto *grid : {&m_fluxY, &m_gatherCoefY, &m_gatherRateY}) {
        *grid = velloran::makeGrid(lattice.yFaces());
    }
    m_cellFlux = velloran::makeGrid(lattice.cells());
    m_cornerFlux = velloran::makeGrid(lattice.corners());
    m_poisson = std::make_unique<velloran::ReferenceNeumannPoisson>(static_cast<int>(n));
    m_poissonRhs.assign(static_cast<std::size_t>(n) * n, 0.0);
}

void ReferenceSolver::markUnstable() {
    m_hitSubcycleCap = true;
    for (Grid *grid : {m_density.get(), m_uCentre.get(), m_vCentre.get()}) {
        for (std::uint32_t j = 0; j < grid->NumRows(); ++j) {
            for (std::uint32_t i = 0; i < grid->NumCols(); ++i) {
                (*grid)(i, j) = std::nan("");
            }
        }
    }
}

void ReferenceSolver::computeTargetFields() {
    m_blur->apply(*m_target, *m_blurTarget);

    const Grid &b = *m_blurTarget;
    Grid &driveU = *m_driveU;
    Grid &driveV = *m_driveV;
    const velloran::Lattice lattice = velloran::Lattice::of(b);
    const std::uint32_t n = lattice.n;
    const double h = m_h;

    // The sound scheme's floor under the denominator (balancing.h).
    const bool sound = m_scheme == velloran::Scheme::Sound;
    double floor = 0.0;
    for (std::uint32_t i = 1; sound && i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            floor = std::max(floor, b(i, j));
        }
    }
    floor = velloran::kDriveFloor * floor;
    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            driveU(i, j) =
                sound ? ((b(i, j) - b(i - 1, j)) / h) / (0.5 * (b(i, j) + b(i - 1, j)) + floor)
                      : ((b(i, j) - b(i - 1, j)) / h) / (0.5 * (b(i, j) + b(i - 1, j)));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
            driveV(i, j) =
                sound ? ((b(i, j) - b(i, j - 1)) / h) / (0.5 * (b(i, j) + b(i, j - 1)) + floor)
                      : ((b(i, j) - b(i, j - 1)) / h) / (0.5 * (b(i, j) + b(i, j - 1)));
        }
    }
}

void ReferenceSolver::setTimeStep(double dt) {
    m_dt = dt;
    m_dtOverH = dt / m_h;
}

void ReferenceSolver::step() {
    applyDrivingForce();
    attenuateMomentum();
    if (m_scheme == velloran::Scheme::Literal) {
        advectVelocity();
        project();
        advectDensity();
        gatherSmoke();
        centreVelocity();
        return;
    }
    applyBalancingForce();
    closeWalls();
    if (!m_hitSubcycleCap) {
        advectVelocitySound();
    }
    if (!m_hitSubcycleCap) {
        projectNeumann();
    }
    carrySmokeSound();
    if (m_hitSubcycleCap) {
        markUnstable();
        return;
    }
    centreVelocity();
}

// The smoke carried by the flow and then gathered, the gathering paid for by
// what the flow carried.
void ReferenceSolver::carrySmokeSound() {
    double advected = 0.0;
    if (!m_hitSubcycleCap) {
        const Grid before = *m_density;
        advectDensitySound();
        advected = sumOfChange(before, *m_density);
    }
    if (!m_hitSubcycleCap) {
        const Grid before = *m_density;
        gatherSmokeSound();
        payForGathering(before, advected);
    }
}

// Sum over the interior of |now - before|: each column's sum down its rows,
// then those sums in column order.
double ReferenceSolver::sumOfChange(const Grid &before, const Grid &now) {
    const std::uint32_t n = now.NumCols() - 2;
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        double column = 0.0;
        for (std::uint32_t j = 1; j <= n; ++j) {
            column += std::fabs(now(i, j) - before(i, j));
        }
        sum += column;
    }
    return sum;
}

// The gathering spends what the advection earned: beyond its allowance its
// change is scaled back towards the density it started from.
void ReferenceSolver::payForGathering(const Grid &before, double advected) {
    const double credit = m_gatherCredit + velloran::kGatherBudget * advected;
    const double allowance = velloran::gatheringAllowance(credit, advected, m_dt);
    Grid &rho = *m_density;
    double gathered = sumOfChange(before, rho);
    if (gathered > allowance) {
        const double s = allowance > 0.0 ? allowance / gathered : 0.0;
        const std::uint32_t n = rho.NumCols() - 2;
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                rho(i, j) = (1.0 - s) * before(i, j) + s * rho(i, j);
            }
        }
        fillBoundary(kScalar, rho);
        gathered = allowance;
    }
    m_gatherCredit = std::max(0.0, credit - gathered);
}

// ---------------------------------------------------------------------------
// Boundary fill and centred velocities

void ReferenceSolver::centreVelocity() {
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &uCentre = *m_uCentre;
    Grid &vCentre = *m_vCentre;
    const velloran::Lattice lattice = velloran::Lattice::of(uCentre);
    const std::uint32_t n = lattice.n;

    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            uCentre(i, j) = 0.5 * (u(i, j) + u(i + 1, j));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            vCentre(i, j) = 0.5 * (v(i, j) + v(i, j + 1));
        }
    }
    fillBoundary(kXFace, uCentre);
    fillBoundary(kYFace, vCentre);
}

// ---------------------------------------------------------------------------
// Limited upwind flux

double ReferenceSolver::minMod3(double x, double y, double z) {
    double sign = 0.0;
    if (x > 0 && y > 0 && z > 0) {
        sign = 1.0;
    } else if (x < 0 && y < 0 && z < 0) {
        sign = -1.0;
    }
    return sign * std::min(std::min(std::fabs(x), std::fabs(y)), std::fabs(z));
}

double ReferenceSolver::upwindFlux(double q, double qNext, double qPrev, double aLow,
                                   double aHigh) {
    const double donorHigh = aHigh > 0 ? q : qNext;
    const double donorLow = aLow > 0 ? qPrev : q;
    return donorHigh * aHigh - donorLow * aLow;
}

double ReferenceSolver::limitedFlux(double q, double qNext, double qNext2, double qPrev,
                                    double qPrev2, double aLow, double aHigh) const {
    const double lambda = m_dtOverH;
    const double limitedHigh = minMod3(qNext2 - qNext, qNext - q, q - qPrev);
    const double limitedLow = minMod3(qNext - q, q - qPrev, qPrev - qPrev2);
    // The correction is deliberately not scaled by the speed: it also acts
    // where the flow is at rest, and its weight is not clamped.
    return upwindFlux(q, qNext, qPrev, aLow, aHigh) +
           (1 - lambda * std::fabs(aHigh)) * limitedHigh -
           (1 - lambda * std::fabs(aLow)) * limitedLow;
}

// ---------------------------------------------------------------------------
// Driving force and momentum attenuation

// Pushes each face by vf times the blurred smoke on the face times the
// normalised gradient of the blurred target, so smoke moves up that gradient.
void ReferenceSolver::applyDrivingForce() {
    m_blur->apply(*m_density, *m_blurDensity);

    const Grid &blurDensity = *m_blurDensity;
    const Grid &driveU = *m_driveU;
    const Grid &driveV = *m_driveV;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const velloran::Lattice lattice = velloran::Lattice::of(blurDensity);
    const std::uint32_t n = lattice.n;

    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) + m_dt * m_vf * driveU(i, j) * 0.5 *
                                    (blurDensity(i, j) + blurDensity(i - 1, j));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
            v(i, j) = v(i, j) + m_dt * m_vf * driveV(i, j) * 0.5 *
                                    (blurDensity(i, j) + blurDensity(i, j - 1));
        }
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// Damps the whole velocity field by 1 - dt vd. Not clamped: for dt vd in (1, 2)
// it reverses the flow, above 2 it amplifies it.
void ReferenceSolver::attenuateMomentum() {
    const double factor = 1 - m_dt * m_vd;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;

    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) * factor;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
            v(i, j) = v(i, j) * factor;
        }
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}
