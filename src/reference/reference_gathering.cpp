// The sound scheme's gathering, plain (see reference_sound.cpp).

#include "reference_solver.h"

#include "balancing.h"
#include "gatherweight.h"
#include "lattice.h"
#include "reference_poisson.h"
#include "reference_walls.h"

#include <algorithm>
#include <cmath>
#include <vector>

using velloran::reference::negativePart;
using velloran::reference::positivePart;
using velloran::reference::zeroWallFaces;

namespace {

constexpr double kGatheringLimit = 1.0; // dt_s * max K of one gathering sub-step

} // namespace

// Gathering as transport: smoke moves across each face from the side where it
// exceeds the target more to the side where it exceeds it less, at a speed
// proportional to the blurred target on the face, carrying the density of the
// cell it leaves. Sub-steps are as long as positivity and monotonicity allow.
void ReferenceSolver::gatherSmokeSound() {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    // The weight: the target blurred at least gatherWeightSigma wide, scaled
    // to the run's blur; made afresh every time.
    const std::uint32_t side = velloran::Lattice::of(rho).n;
    const double weightSigma = velloran::gatherWeightSigma(side, m_sigma);
    Grid wideBlur = *m_blurTarget;
    if (weightSigma != m_sigma) {
        ReferenceBlurFilter wide;
        wide.setSigma(weightSigma);
        wide.apply(target, wideBlur);
        velloran::matchBlurScale(wideBlur, m_blur->kernel(), wide.kernel());
    }
    const Grid &blurTarget = wideBlur;
    Grid &diff = *m_densityDiff;
    Grid &gx = *m_fluxX;
    Grid &gy = *m_fluxY;
    Grid &coefX = *m_gatherCoefX;
    Grid &coefY = *m_gatherCoefY;
    Grid &rateX = *m_gatherRateX;
    Grid &rateY = *m_gatherRateY;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    const double h = m_h;
    const double vgOverH = m_vg / h;
    const double hSquared = h * h;

    // Per face: w = coef (D_L - D_R) and the rate a = vg b_f / h^2 of the
    // sub-step rule, b_f the mean gathering weight on the face.
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double face = 0.5 * (blurTarget(i - 1, j) + blurTarget(i, j));
            coefX(i, j) = vgOverH * face;
            rateX(i, j) = m_vg * face / hSquared;
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            const double face = 0.5 * (blurTarget(i, j - 1) + blurTarget(i, j));
            coefY(i, j) = vgOverH * face;
            rateY(i, j) = m_vg * face / hSquared;
        }
    }
    // No smoke is gathered through the faces of solid cells.
    closeSolidFaces(coefX, coefY);
    closeSolidFaces(rateX, rateY);
    zeroWallFaces(gx, gy, n);

    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            diff(i, j) = rho(i, j) - target(i, j);
        }
    }
    if (m_gathering == velloran::Gathering::Implicit) {
        gatherImplicit();
    } else {
        gatherExplicit();
    }
}

// Forward Euler sub-steps, each as long as positivity and monotonicity allow.
void ReferenceSolver::gatherExplicit() {
    const velloran::Lattice lattice = velloran::Lattice::of(*m_density);
    const std::uint32_t n = lattice.n;
    zeroWallFaces(*m_fluxX, *m_fluxY, n);
    const double dt = m_dt;
    double left = dt;
    int steps = 0;
    while (left > 0.0) {
        const double largest = largestGatherRate();
        if (std::isnan(largest) || std::isinf(largest) || steps == kMaxSubcycles) {
            m_substeps.gathering = steps;
            m_hitSubcycleCap = true;
            return;
        }
        double sub = left;
        if (largest > 0.0) {
            sub = std::min(left, kGatheringLimit / largest);
        }
        if (left - sub < 1e-12 * dt) {
            sub = left;
        }
        gatherSubstep(sub / m_h);
        left = left - sub;
        ++steps;
    }
    m_substeps.gathering = steps;
    fillBoundary(kScalar, *m_density);
}

// The largest K_c of any cell: over the cell's interior faces, west, east,
// south, north (NaN when any is NaN).
double ReferenceSolver::largestGatherRate() const {
    const Grid &rho = *m_density;
    const Grid &diff = *m_densityDiff;
    const Grid &rateX = *m_gatherRateX;
    const Grid &rateY = *m_gatherRateY;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    double largest = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double d = diff(i, j);
            const double r = rho(i, j);
            double k = 0.0;
            if (i > 1) {
                k = k +
                    rateX(i, j) * (positivePart(d - diff(i - 1, j)) + std::max(r, rho(i - 1, j)));
            }
            if (i < n) {
                k = k + rateX(i + 1, j) *
                            (positivePart(d - diff(i + 1, j)) + std::max(r, rho(i + 1, j)));
            }
            if (j > 1) {
                k = k +
                    rateY(i, j) * (positivePart(d - diff(i, j - 1)) + std::max(r, rho(i, j - 1)));
            }
            if (j < n) {
                k = k + rateY(i, j + 1) *
                            (positivePart(d - diff(i, j + 1)) + std::max(r, rho(i, j + 1)));
            }
            largest = (std::isnan(k) || std::isnan(largest)) ? std::nan("") : std::max(largest, k);
        }
    }
    return largest;
}

// One forward Euler sub-step of lambda = dt_s / h: the donor-cell fluxes of
// the old values, applied to the density, and D taken anew.
void ReferenceSolver::gatherSubstep(double lambda) {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    Grid &diff = *m_densityDiff;
    Grid &gx = *m_fluxX;
    Grid &gy = *m_fluxY;
    const Grid &coefX = *m_gatherCoefX;
    const Grid &coefY = *m_gatherCoefY;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double w = coefX(i, j) * (diff(i - 1, j) - diff(i, j));
            gx(i, j) = positivePart(w) * rho(i - 1, j) + negativePart(w) * rho(i, j);
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            const double w = coefY(i, j) * (diff(i, j - 1) - diff(i, j));
            gy(i, j) = positivePart(w) * rho(i, j - 1) + negativePart(w) * rho(i, j);
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            rho(i, j) =
                rho(i, j) - lambda * ((gx(i + 1, j) - gx(i, j)) + (gy(i, j + 1) - gy(i, j)));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            diff(i, j) = rho(i, j) - target(i, j);
        }
    }
}

namespace {

// One line of the implicit gathering, on copies of the line's values: cells
// 0 .. m-1, faces 1 .. m-1 between them (coef[k] for face k), no flux through
// the ends. Linearised backward Euler of the donor-cell flux, solved by
// elimination, applied as differences of the linear fluxes; cells the linear
// step would empty beyond their smoke have their outflows scaled to what they
// hold until none is left below zero, and the rounding residue is set to 0.
std::vector<double> gatherLine(const std::vector<double> &rho, const std::vector<double> &target,
                               const std::vector<double> &coef, double lambda) {
    const int m = static_cast<int>(rho.size());
    const auto at = [](int k) { return static_cast<std::size_t>(k); };
    std::vector<double> flux(at(m) + 1, 0.0);
    std::vector<double> alpha(at(m) + 1, 0.0);
    std::vector<double> beta(at(m) + 1, 0.0);
    for (int k = 1; k < m; ++k) {
        const double rhoL = rho[at(k - 1)];
        const double rhoR = rho[at(k)];
        const double c = coef[at(k)];
        const double w = c * ((rhoL - target[at(k - 1)]) - (rhoR - target[at(k)]));
        const double donor = w > 0 ? rhoL : (w < 0 ? rhoR : std::max(rhoL, rhoR));
        flux[at(k)] = std::max(w, 0.0) * rhoL + std::min(w, 0.0) * rhoR;
        alpha[at(k)] = std::max(w, 0.0) + c * donor;
        beta[at(k)] = c * donor - std::min(w, 0.0);
    }
    std::vector<double> upper(at(m));
    std::vector<double> change(at(m));
    for (int i = 0; i < m; ++i) {
        const double lower = -lambda * alpha[at(i)];
        const double diagonal = 1 + lambda * (alpha[at(i + 1)] + beta[at(i)]);
        const double up = -lambda * beta[at(i + 1)];
        const double rhs = -lambda * (flux[at(i + 1)] - flux[at(i)]);
        if (i == 0) {
            upper[at(i)] = up / diagonal;
            change[at(i)] = rhs / diagonal;
        } else {
            const double pivot = diagonal - lower * upper[at(i - 1)];
            upper[at(i)] = up / pivot;
            change[at(i)] = (rhs - lower * change[at(i - 1)]) / pivot;
        }
    }
    for (int i = m - 2; i >= 0; --i) {
        change[at(i)] = change[at(i)] - upper[at(i)] * change[at(i + 1)];
    }
    for (int k = 1; k < m; ++k) {
        flux[at(k)] = flux[at(k)] + alpha[at(k)] * change[at(k - 1)] - beta[at(k)] * change[at(k)];
    }
    std::vector<double> next(at(m));
    bool negative = false;
    for (int i = 0; i < m; ++i) {
        next[at(i)] = rho[at(i)] - lambda * (flux[at(i + 1)] - flux[at(i)]);
        negative = negative || next[at(i)] < 0.0;
    }
    if (!negative) {
        return next;
    }
    std::vector<double> scale(at(m), 1.0);
    while (negative) {
        for (int i = 0; i < m; ++i) {
            if (next[at(i)] < 0.0 && scale[at(i)] == 1.0) {
                const double out = std::max(flux[at(i + 1)], 0.0) - std::min(flux[at(i)], 0.0);
                scale[at(i)] = rho[at(i)] / (lambda * out);
            }
        }
        negative = false;
        for (int i = 0; i < m; ++i) {
            const double high = flux[at(i + 1)] > 0
                                    ? flux[at(i + 1)] * scale[at(i)]
                                    : flux[at(i + 1)] * scale[at(std::min(i + 1, m - 1))];
            const double low = flux[at(i)] > 0 ? flux[at(i)] * scale[at(std::max(i - 1, 0))]
                                               : flux[at(i)] * scale[at(i)];
            next[at(i)] = rho[at(i)] - lambda * (high - low);
            negative = negative || (next[at(i)] < 0.0 && scale[at(i)] == 1.0);
        }
    }
    for (double &value : next) {
        value = std::max(value, 0.0);
    }
    return next;
}

} // namespace

// Linearised backward Euler along every row, then along every column.
void ReferenceSolver::gatherImplicit() {
    Grid &rho = *m_density;
    const Grid &target = *m_target;
    Grid &diff = *m_densityDiff;
    const Grid &coefX = *m_gatherCoefX;
    const Grid &coefY = *m_gatherCoefY;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    const double lambda = m_dt / m_h;
    std::vector<double> line(n);
    std::vector<double> lineTarget(n);
    std::vector<double> lineCoef(n);
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t k = 0; k < n; ++k) {
            line[k] = rho(k + 1, j);
            lineTarget[k] = target(k + 1, j);
            lineCoef[k] = coefX(k + 1, j); // face k between cells k and k + 1 of the grid
        }
        const std::vector<double> next = gatherLine(line, lineTarget, lineCoef, lambda);
        for (std::uint32_t k = 0; k < n; ++k) {
            rho(k + 1, j) = next[k];
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t k = 0; k < n; ++k) {
            line[k] = rho(i, k + 1);
            lineTarget[k] = target(i, k + 1);
            lineCoef[k] = coefY(i, k + 1);
        }
        const std::vector<double> next = gatherLine(line, lineTarget, lineCoef, lambda);
        for (std::uint32_t k = 0; k < n; ++k) {
            rho(i, k + 1) = next[k];
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            diff(i, j) = rho(i, j) - target(i, j);
        }
    }
    m_substeps.gathering = 1;
    bool finite = true;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            finite = finite && std::isfinite(rho(i, j));
        }
    }
    if (!finite) {
        m_hitSubcycleCap = true;
        return;
    }
    fillBoundary(kScalar, rho);
}
