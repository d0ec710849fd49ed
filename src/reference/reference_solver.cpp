#include "reference_solver.h"

#include "reference_poisson.h"

#include "balancing.h"

#include <algorithm>
#include <cmath>

namespace {

// Interior side N of a solver whose cell-centred grids are (N+2) x (N+2).
std::uint32_t interiorSide(const Grid &cellGrid) {
    return cellGrid.NumCols() - 2;
}

} // namespace

ReferenceSolver::ReferenceSolver(const Grid &srcDensity, const Grid &tgtDensity) {
    VELLORAN_CHECK(srcDensity.NumRows() > 0);
    VELLORAN_CHECK(srcDensity.NumRows() == srcDensity.NumCols());
    VELLORAN_CHECK(srcDensity.NumRows() == tgtDensity.NumRows());
    VELLORAN_CHECK(srcDensity.NumCols() == tgtDensity.NumCols());

    const std::uint32_t n = srcDensity.NumRows();
    m_h = 1.0 / n;
    m_twoH = 2 * m_h;

    // Shapes are rows x columns; see the lattice table in the header.
    m_density = std::make_unique<Grid>(n + 2, n + 2);
    m_target = std::make_unique<Grid>(n + 2, n + 2);
    m_blurDensity = std::make_unique<Grid>(n + 2, n + 2);
    m_blurTarget = std::make_unique<Grid>(n + 2, n + 2);
    m_densityDiff = std::make_unique<Grid>(n + 2, n + 2);
    m_densityTmp = std::make_unique<Grid>(n + 2, n + 2);
    m_pressure = std::make_unique<Grid>(n + 2, n + 2);
    m_u = std::make_unique<Grid>(n + 2, n + 3);
    m_v = std::make_unique<Grid>(n + 3, n + 2);
    m_driveU = std::make_unique<Grid>(n + 2, n + 3);
    m_driveV = std::make_unique<Grid>(n + 3, n + 2);
    m_uTmp = std::make_unique<Grid>(n + 2, n + 3);
    m_vTmp = std::make_unique<Grid>(n + 3, n + 2);
    m_uCentre = std::make_unique<Grid>(n + 2, n + 2);
    m_vCentre = std::make_unique<Grid>(n + 2, n + 2);

    for (std::uint32_t k = 0; k < n; ++k) {
        for (std::uint32_t l = 0; l < n; ++l) {
            (*m_density)(k + 1, l + 1) = srcDensity(k, l);
            (*m_target)(k + 1, l + 1) = tgtDensity(k, l);
        }
    }

    equaliseMass();

    m_blur = std::make_unique<ReferenceBlurFilter>();
}

ReferenceSolver::~ReferenceSolver() = default;

// Scales the heavier of density and target down so that both interior sums
// agree; the smoke can then form the target without surplus or shortage.
void ReferenceSolver::equaliseMass() {
    Grid &density = *m_density;
    Grid &target = *m_target;
    const std::uint32_t last = density.NumCols() - 1;

    double densitySum = 0.0;
    double targetSum = 0.0;
    for (std::uint32_t i = 1; i < last; ++i) {
        for (std::uint32_t j = 1; j < last; ++j) {
            densitySum += density(i, j);
        }
    }
    for (std::uint32_t i = 1; i < last; ++i) {
        for (std::uint32_t j = 1; j < last; ++j) {
            targetSum += target(i, j);
        }
    }

    if (targetSum > densitySum) {
        for (std::uint32_t i = 1; i < last; ++i) {
            for (std::uint32_t j = 1; j < last; ++j) {
                target(i, j) = target(i, j) * densitySum / targetSum;
            }
        }
    } else {
        // Black source and black target: 0 / 0 would fill the density with
        // NaN. Both are zero already, so there is nothing to equalise.
        if (densitySum == 0.0 && targetSum == 0.0) {
            return;
        }
        for (std::uint32_t i = 1; i < last; ++i) {
            for (std::uint32_t j = 1; j < last; ++j) {
                density(i, j) = density(i, j) * targetSum / densitySum;
            }
        }
    }
}

void ReferenceSolver::setSigma(double sigma) {
    m_blur->setSigma(sigma);
    m_sigma = sigma;
    computeTargetFields();
}

void ReferenceSolver::setTarget(const Grid &tgtDensity) {
    Grid &density = *m_density;
    Grid &target = *m_target;
    const std::uint32_t n = interiorSide(density);
    VELLORAN_CHECK(tgtDensity.NumRows() == n);
    VELLORAN_CHECK(tgtDensity.NumCols() == n);
    for (std::uint32_t k = 0; k < n; ++k) {
        for (std::uint32_t l = 0; l < n; ++l) {
            target(k + 1, l + 1) = tgtDensity(k, l);
        }
    }
    double densitySum = 0.0;
    double targetSum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            densitySum += density(i, j);
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            targetSum += target(i, j);
        }
    }
    if (targetSum != 0.0) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                target(i, j) = target(i, j) * densitySum / targetSum;
            }
        }
    }
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
    const std::uint32_t n = interiorSide(*m_density);
    m_fluxX = std::make_unique<Grid>(n + 2, n + 3);
    m_fluxY = std::make_unique<Grid>(n + 3, n + 2);
    m_cellFlux = std::make_unique<Grid>(n + 2, n + 2);
    m_cornerFlux = std::make_unique<Grid>(n + 3, n + 3);
    m_gatherCoefX = std::make_unique<Grid>(n + 2, n + 3);
    m_gatherCoefY = std::make_unique<Grid>(n + 3, n + 2);
    m_gatherRateX = std::make_unique<Grid>(n + 2, n + 3);
    m_gatherRateY = std::make_unique<Grid>(n + 3, n + 2);
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
    const std::uint32_t n = interiorSide(b);
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
    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            driveU(i, j) =
                sound ? ((b(i, j) - b(i - 1, j)) / h) / (0.5 * (b(i, j) + b(i - 1, j)) + floor)
                      : ((b(i, j) - b(i - 1, j)) / h) / (0.5 * (b(i, j) + b(i - 1, j)));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
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
        advectDensitySound();
    }
    if (!m_hitSubcycleCap) {
        gatherSmokeSound();
    }
    if (m_hitSubcycleCap) {
        markUnstable();
        return;
    }
    centreVelocity();
}

// ---------------------------------------------------------------------------
// Boundary fill and centred velocities

void ReferenceSolver::fillBoundary(int kind, Grid &grid) {
    const std::uint32_t rows = grid.NumRows();
    const std::uint32_t cols = grid.NumCols();

    // Lower and upper edges: a y-component flips sign across them, the rest copy.
    if (cols >= 3) {
        for (std::uint32_t i = 1; i <= cols - 2; ++i) {
            if (kind == kYFace) {
                grid(i, 0) = -grid(i, 1);
                grid(i, rows - 1) = -grid(i, rows - 2);
            } else {
                grid(i, 0) = grid(i, 1);
                grid(i, rows - 1) = grid(i, rows - 2);
            }
        }
    }
    // Left and right edges: an x-component flips sign across them, the rest copy.
    if (rows >= 3) {
        for (std::uint32_t j = 1; j <= rows - 2; ++j) {
            if (kind == kXFace) {
                grid(0, j) = -grid(1, j);
                grid(cols - 1, j) = -grid(cols - 2, j);
            } else {
                grid(0, j) = grid(1, j);
                grid(cols - 1, j) = grid(cols - 2, j);
            }
        }
    }
    // Corners: the mean of the two edge entries next to each.
    grid(0, 0) = 0.5 * (grid(0, 1) + grid(1, 0));
    grid(cols - 1, 0) = 0.5 * (grid(cols - 2, 0) + grid(cols - 1, 1));
    grid(0, rows - 1) = 0.5 * (grid(0, rows - 2) + grid(1, rows - 1));
    grid(cols - 1, rows - 1) = 0.5 * (grid(cols - 2, rows - 1) + grid(cols - 1, rows - 2));
}

void ReferenceSolver::centreVelocity() {
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &uCentre = *m_uCentre;
    Grid &vCentre = *m_vCentre;
    const std::uint32_t n = interiorSide(uCentre);

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
    const std::uint32_t n = interiorSide(blurDensity);

    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) + m_dt * m_vf * driveU(i, j) * 0.5 *
                                    (blurDensity(i, j) + blurDensity(i - 1, j));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
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
    const std::uint32_t n = interiorSide(*m_density);

    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) * factor;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
            v(i, j) = v(i, j) * factor;
        }
    }
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

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
    const std::uint32_t n = interiorSide(uCentre);

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
    const std::uint32_t n = interiorSide(rho);

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
    const std::uint32_t n = interiorSide(p);

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

    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            u(i, j) = u(i, j) - (p(i, j) - p(i - 1, j)) / h;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
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
    const std::uint32_t n = interiorSide(rho);

    for (std::uint32_t i = 0; i < diff.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < diff.NumRows(); ++j) {
            diff(i, j) = rho(i, j) - target(i, j);
        }
    }
    fillBoundary(kScalar, diff);

    for (std::uint32_t i = 1; i <= n + 1; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            speedU(i, j) =
                (diff(i, j) - diff(i - 1, j)) * (blurTarget(i, j) + blurTarget(i - 1, j)) / m_twoH;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n + 1; ++j) {
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
