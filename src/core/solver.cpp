#include "solver.h"

#include "balancing.h"

#include "kernels.h"
#include "neumannpoisson.h"
#include "solverrows.h"
#include "soundkernels.h"
#include "workerpool.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>

using velloran::kernels::CellFluxMode;
using velloran::kernels::CellFluxPlan;
using velloran::kernels::FaceFluxPlan;
using velloran::kernels::FaceRows;
using velloran::kernels::PressurePlan;

namespace {

// Interior side N of a solver whose cell-centred grids are (N+2) x (N+2).
std::uint32_t interiorSide(const Grid &cellGrid) {
    return cellGrid.NumCols() - 2;
}

// The fast loops walk raw rows; before they do, each grid is proved to have the
// shape the solver gave it, and the largest entry a loop touches is proved in
// range with the accessors' own checks.
void requireShape(const Grid &grid, std::uint32_t rows, std::uint32_t cols) {
    VELLORAN_CHECK(grid.NumRows() == rows);
    VELLORAN_CHECK(grid.NumCols() == cols);
    if (rows > 0 && cols > 0) {
        (void)grid(cols - 1, rows - 1);
    }
}

double *rowOf(Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}

const double *rowOf(const Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}

// Lanes of the pressure wavefront: rows of one column of lanes, and the layout
// of h * divergence that gives every time step its lanes as one contiguous run.
// Rows of whole cache lines, so that most lane loads stay within one line.
std::size_t pressureLaneStride() {
    return (velloran::kernels::kPressureLanes + 1 + 7) / 8 * 8;
}

// The start of a buffer, rounded up to a 64-byte boundary (the buffer holds 8
// spare doubles for this).
double *cacheAligned(std::vector<double> &buffer) {
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t offset = (64 - address % 64) % 64;
    return buffer.data() + offset / sizeof(double);
}

int pressureSkewOrigin(std::uint32_t n) {
    return static_cast<int>(n + 2 * velloran::kernels::kPressureSweeps) / 2 + 1;
}

std::size_t pressureSkewStride(std::uint32_t n) {
    return static_cast<std::size_t>(pressureSkewOrigin(n) + velloran::kernels::kPressureLanes);
}

} // namespace

Solver::Solver(const Grid &srcDensity, const Grid &tgtDensity) {
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

    m_blur = std::make_unique<BlurFilter>();
    m_blur->setSimdLevel(m_simd);
    setThreadCount(defaultThreadCount());
}

Solver::~Solver() = default;

int Solver::defaultThreadCount() {
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

void Solver::setThreadCount(int threads) {
    m_threadCount = std::clamp(threads, 1, 8);
    m_blur->setWorkers(nullptr);
    m_workers = std::make_unique<velloran::WorkerPool>(m_threadCount);
    allocateScratch();
}

void Solver::setSimdLevel(velloran::SimdLevel level) {
    if (static_cast<int>(level) > static_cast<int>(velloran::bestSimdLevel())) {
        level = velloran::bestSimdLevel();
    }
    m_simd = level;
    m_blur->setSimdLevel(level);
    if (m_gatherBlur) {
        m_gatherBlur->setSimdLevel(level);
    }
    if (m_poisson) {
        m_poisson->setSimdLevel(level);
        m_balancePoisson->setSimdLevel(level);
    }
}

// Everything a step needs beyond the fifteen grids, sized once for N and the
// thread count, so that a step allocates nothing.
void Solver::allocateScratch() {
    const std::uint32_t n = interiorSide(*m_density);
    const std::size_t line = n + 16;
    const auto parts = static_cast<std::size_t>(m_threadCount);
    m_faceScratch.assign(parts * 6 * line, 0.0);
    m_faceRows.assign(parts, FaceRows{});
    for (std::size_t part = 0; part < parts; ++part) {
        double *base = m_faceScratch.data() + part * 6 * line;
        m_faceRows[part] = FaceRows{
            base, base + line, base + 2 * line, base + 3 * line, base + 4 * line, base + 5 * line};
    }
    m_pressureRing.assign(3 * (n + 2) * pressureLaneStride() + 8, 0.0);
    // Entries that stand for columns outside the grid stay 0 for good.
    m_pressureSkew.assign(2 * (n + 2) * pressureSkewStride(n), 0.0);
    if (m_poisson) {
        allocateSoundScratch();
    }
}

// Scales the heavier of density and target down so that both interior sums
// agree; the smoke can then form the target without surplus or shortage.
void Solver::equaliseMass() {
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

void Solver::setSigma(double sigma) {
    m_blur->setSigma(sigma);
    m_sigma = sigma;
    computeTargetFields();
}

// Blurs the target and derives the driving field from it: on every face, the
// difference of the blurred target across the face over h, divided by the
// face's mean blurred target.
void Solver::computeTargetFields() {
    // Once per run, or per keyframe, usually outside a step: no pool.
    m_blur->setWorkers(nullptr);
    m_blur->apply(*m_target, *m_blurTarget);
    m_gatherWeightStale = true;

    const Grid &b = *m_blurTarget;
    Grid &driveU = *m_driveU;
    Grid &driveV = *m_driveV;
    const std::uint32_t n = interiorSide(b);
    const double h = m_h;
    requireShape(b, n + 2, n + 2);
    requireShape(driveU, n + 2, n + 3);
    requireShape(driveV, n + 3, n + 2);

    // The sound scheme floors the denominator (balancing.h); the literal
    // scheme divides by the face mean alone.
    double floor = 0.0;
    if (m_scheme == velloran::Scheme::Sound) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            for (std::uint32_t i = 1; i <= n; ++i) {
                floor = std::max(floor, b(i, j));
            }
        }
        floor = velloran::kDriveFloor * floor;
    }
    // Row by row through memory; every entry is computed on its own, so the
    // order of the loops does not matter to the values.
    for (std::uint32_t j = 1; j <= n + 1; ++j) {
        const double *row = rowOf(b, j);
        const double *below = rowOf(b, j - 1);
        if (j <= n) {
            double *u = rowOf(driveU, j);
            for (std::uint32_t i = 1; i <= n + 1; ++i) {
                if (m_scheme == velloran::Scheme::Sound) {
                    u[i] = ((row[i] - row[i - 1]) / h) / (0.5 * (row[i] + row[i - 1]) + floor);
                } else {
                    u[i] = ((row[i] - row[i - 1]) / h) / (0.5 * (row[i] + row[i - 1]));
                }
            }
        }
        double *v = rowOf(driveV, j);
        for (std::uint32_t i = 1; i <= n; ++i) {
            if (m_scheme == velloran::Scheme::Sound) {
                v[i] = ((row[i] - below[i]) / h) / (0.5 * (row[i] + below[i]) + floor);
            } else {
                v[i] = ((row[i] - below[i]) / h) / (0.5 * (row[i] + below[i]));
            }
        }
    }
}

void Solver::setTarget(const Grid &tgtDensity) {
    Grid &density = *m_density;
    Grid &target = *m_target;
    const std::uint32_t n = interiorSide(density);
    VELLORAN_CHECK(tgtDensity.NumRows() == n);
    VELLORAN_CHECK(tgtDensity.NumCols() == n);
    requireShape(target, n + 2, n + 2);
    requireShape(density, n + 2, n + 2);

    for (std::uint32_t l = 0; l < n; ++l) {
        const double *from = tgtDensity.data() + static_cast<std::size_t>(l) * n;
        std::copy(from, from + n, rowOf(target, l + 1) + 1);
    }
    // Scaled to the smoke there is now, whichever is heavier. The sums run over
    // columns, rows inner, like the equalisation at construction (the order
    // fixes their rounding).
    const std::size_t stride = n + 2;
    double densitySum = 0.0;
    double targetSum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        const double *column = density.data() + i + stride;
        for (std::uint32_t j = 0; j < n; ++j) {
            densitySum += column[j * stride];
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        const double *column = target.data() + i + stride;
        for (std::uint32_t j = 0; j < n; ++j) {
            targetSum += column[j * stride];
        }
    }
    // A target without smoke cannot be scaled; it stays empty (its driving
    // field is then zero).
    if (targetSum != 0.0) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            double *row = rowOf(target, j);
            for (std::uint32_t i = 1; i <= n; ++i) {
                row[i] = row[i] * densitySum / targetSum;
            }
        }
    }
    computeTargetFields();
}

void Solver::setTimeStep(double dt) {
    m_dt = dt;
    m_dtOverH = dt / m_h;
}

void Solver::step() {
    m_transport = velloran::TransportAmounts{};
    // The force and the attenuation in one pass: (u + force) * a is what the
    // two sub-steps compute, and the boundary fill in between is overwritten.
    applyDrivingForceAndAttenuation();
    if (m_scheme == velloran::Scheme::Literal) {
        advectVelocity();
        project();
        snapshotDensity();
        advectDensity();
        m_transport.advected = densityChange();
        snapshotDensity();
        gatherSmoke();
        m_transport.gathered = densityChange();
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
        snapshotDensity();
        advectDensitySound();
        m_transport.advected = densityChange();
    }
    if (!m_hitSubcycleCap) {
        snapshotDensity();
        gatherSmokeSound();
        m_transport.gathered = densityChange();
    }
    if (m_hitSubcycleCap) {
        markUnstable();
        return;
    }
    centreVelocity();
}

void Solver::setScheme(velloran::Scheme scheme) {
    const bool changed = scheme != m_scheme;
    m_scheme = scheme;
    m_substeps = velloran::SubstepCounts{};
    if (changed && m_sigma > 0.0) {
        computeTargetFields(); // the schemes' driving fields differ (balancing.h)
    }
    if (scheme != velloran::Scheme::Sound || m_rhoScratch) {
        return;
    }
    const std::uint32_t n = interiorSide(*m_density);
    m_gatherCoefX = std::make_unique<Grid>(n + 2, n + 3);
    m_gatherCoefY = std::make_unique<Grid>(n + 3, n + 2);
    m_gatherRateX = std::make_unique<Grid>(n + 2, n + 3);
    m_gatherRateY = std::make_unique<Grid>(n + 3, n + 2);
    m_rhoScratch = std::make_unique<Grid>(n + 2, n + 2);
    m_diffScratch = std::make_unique<Grid>(n + 2, n + 2);
    m_uScratch = std::make_unique<Grid>(n + 2, n + 3);
    m_vScratch = std::make_unique<Grid>(n + 3, n + 2);
    m_poissonRhs.assign(static_cast<std::size_t>(n) * n, 0.0);
    allocateSoundScratch();
}

// The sound scheme's per-thread rows and the pressure solver's scratch, sized
// for the thread count.
void Solver::allocateSoundScratch() {
    const std::uint32_t n = interiorSide(*m_density);
    const auto parts = static_cast<std::size_t>(m_threadCount);
    m_soundRows.assign(parts * 3 * (n + 3), 0.0);
    m_lineScratch.assign(parts * 9 * (n + 2) * 8, 0.0); // nine arrays of up to 8 lanes
    m_extents.assign(parts, velloran::kernels::Extent{});
    m_poisson = std::make_unique<velloran::NeumannPoisson>(static_cast<int>(n), m_threadCount);
    m_poisson->setSimdLevel(m_simd);
    allocateBalancing();
}

// The balancing force's blocks (balancing.h): the misfit and phi per block,
// phi at the cells, and along a line where each cell lies between the block
// centres.
void Solver::allocateBalancing() {
    const std::uint32_t n = interiorSide(*m_density);
    const std::uint32_t block = velloran::balancingBlock(n);
    const std::uint32_t side = n / block;
    m_balancePoisson =
        std::make_unique<velloran::NeumannPoisson>(static_cast<int>(side), m_threadCount);
    m_balancePoisson->setSimdLevel(m_simd);
    m_balanceMisfit.assign(static_cast<std::size_t>(side) * side, 0.0);
    m_balanceCells.assign(static_cast<std::size_t>(n) * n, 0.0);
    m_balanceSpot.assign(n + 2, velloran::BlockSpot{});
    for (std::uint32_t a = 1; a <= n; ++a) {
        m_balanceSpot[a] = velloran::balancingSpot(a, block, side);
    }
}

// A stage that needed more sub-cycles than allowed: the state is no longer a
// solution of anything, so it is marked as blown up rather than left looking
// plausible.
void Solver::markUnstable() {
    m_hitSubcycleCap = true;
    const double nan = std::nan("");
    std::fill(m_density->data(),
              m_density->data() +
                  static_cast<std::size_t>(m_density->NumRows()) * m_density->NumCols(),
              nan);
    std::fill(m_uCentre->data(),
              m_uCentre->data() +
                  static_cast<std::size_t>(m_uCentre->NumRows()) * m_uCentre->NumCols(),
              nan);
    std::fill(m_vCentre->data(),
              m_vCentre->data() +
                  static_cast<std::size_t>(m_vCentre->NumRows()) * m_vCentre->NumCols(),
              nan);
}

// ---------------------------------------------------------------------------
// Boundary fill and centred velocities

void Solver::fillBoundary(int kind, Grid &grid) {
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

void Solver::centreVelocity() {
    const Grid &u = *m_u;
    const Grid &v = *m_v;
    Grid &uCentre = *m_uCentre;
    Grid &vCentre = *m_vCentre;
    const std::uint32_t n = interiorSide(uCentre);
    requireShape(uCentre, n + 2, n + 2);
    requireShape(vCentre, n + 2, n + 2);
    requireShape(u, n + 2, n + 3);
    requireShape(v, n + 3, n + 2);

    forSimpleRows(1, static_cast<int>(n) + 1, [&](int begin, int end, int) {
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
// ---------------------------------------------------------------------------
// Limited upwind flux

double Solver::minMod3(double x, double y, double z) {
    double sign = 0.0;
    if (x > 0 && y > 0 && z > 0) {
        sign = 1.0;
    } else if (x < 0 && y < 0 && z < 0) {
        sign = -1.0;
    }
    return sign * std::min(std::min(std::fabs(x), std::fabs(y)), std::fabs(z));
}

double Solver::upwindFlux(double q, double qNext, double qPrev, double aLow, double aHigh) {
    const double donorHigh = aHigh > 0 ? q : qNext;
    const double donorLow = aLow > 0 ? qPrev : q;
    return donorHigh * aHigh - donorLow * aLow;
}

double Solver::limitedFlux(double q, double qNext, double qNext2, double qPrev, double qPrev2,
                           double aLow, double aHigh) const {
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
void Solver::applyDrivingForce() {
    updateFaces(FaceUpdate::Force);
}
// Damps the whole velocity field by 1 - dt vd. Not clamped: for dt vd in (1, 2)
// it reverses the flow, above 2 it amplifies it.
void Solver::attenuateMomentum() {
    updateFaces(FaceUpdate::Attenuation);
}

void Solver::applyDrivingForceAndAttenuation() {
    updateFaces(FaceUpdate::ForceAndAttenuation);
}

// The driving force, the attenuation or both: every interior face becomes
// u + dt vf drive (face density) when pushed, that value times 1 - dt vd when
// damped, with each expression evaluated as written.
void Solver::updateFaces(FaceUpdate update) {
    const bool push = update != FaceUpdate::Attenuation;
    const bool damp = update != FaceUpdate::Force;
    if (push) {
        const bool parallel = interiorSide(*m_density) >= m_parallelSide;
        m_blur->setWorkers(parallel ? m_workers.get() : nullptr);
        m_blur->apply(*m_density, *m_blurDensity);
    }

    const Grid &blurDensity = *m_blurDensity;
    const Grid &driveU = *m_driveU;
    const Grid &driveV = *m_driveV;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const std::uint32_t n = interiorSide(*m_density);
    requireShape(blurDensity, n + 2, n + 2);
    requireShape(driveU, n + 2, n + 3);
    requireShape(u, n + 2, n + 3);
    requireShape(driveV, n + 3, n + 2);
    requireShape(v, n + 3, n + 2);

    const double factor = 1 - m_dt * m_vd;
    // x-faces in rows 1..n, y-faces in rows 1..n+1.
    forSimpleRows(1, static_cast<int>(n) + 2, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *bd = rowOf(blurDensity, j);
            const double *bdBelow = rowOf(blurDensity, j - 1);
            if (j <= n) {
                const double *drive = rowOf(driveU, j);
                double *uRow = rowOf(u, j);
                if (push) {
                    for (std::uint32_t i = 1; i <= n + 1; ++i) {
                        uRow[i] = uRow[i] + m_dt * m_vf * drive[i] * 0.5 * (bd[i] + bd[i - 1]);
                    }
                }
                if (damp) {
                    for (std::uint32_t i = 1; i <= n + 1; ++i) {
                        uRow[i] = uRow[i] * factor;
                    }
                }
            }
            const double *drive = rowOf(driveV, j);
            double *vRow = rowOf(v, j);
            if (push) {
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] + m_dt * m_vf * drive[i] * 0.5 * (bd[i] + bdBelow[i]);
                }
            }
            if (damp) {
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] * factor;
                }
            }
        }
    });
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}
// ---------------------------------------------------------------------------
// Advection

// Each velocity component is carried along its own axis only, by its own
// centred values; no cross terms. Results go through zeroed scratch grids, so
// the wall faces and the outermost interior lines come out 0.
void Solver::advectVelocity() {
    centreVelocity();

    const std::uint32_t n = interiorSide(*m_uCentre);
    requireShape(*m_u, n + 2, n + 3);
    requireShape(*m_uTmp, n + 2, n + 3);
    requireShape(*m_v, n + 3, n + 2);
    requireShape(*m_vTmp, n + 3, n + 2);

    FaceFluxPlan xPlan;
    xPlan.n = static_cast<int>(n);
    xPlan.q = m_u->data();
    xPlan.speed = m_uCentre->data();
    xPlan.out = m_uTmp->data();
    xPlan.stride = n + 3;
    xPlan.speedStride = n + 2;
    xPlan.lambda = m_dtOverH;
    xPlan.scratch = m_faceRows.data();

    FaceFluxPlan yPlan = xPlan;
    yPlan.q = m_v->data();
    yPlan.speed = m_vCentre->data();
    yPlan.out = m_vTmp->data();
    yPlan.stride = n + 2;

    // The scratch grids are zero outside the updated blocks (x: columns 2..n,
    // rows 2..n-1; y: columns 2..n-1, rows 2..n), and the fields become copies
    // of them. The x pass reads row j of u alone, so each of its rows is copied
    // back as soon as it is done; the y pass reads neighbouring rows of v, which
    // is copied after the job.
    const int rows = static_cast<int>(n);
    const int xRows = rows + 2;
    const int yRows = rows + 3;
    const velloran::SimdLevel simd = m_simd;
    Grid &u = *m_u;
    Grid &uTmp = *m_uTmp;
    Grid &vTmp = *m_vTmp;
    forRows(0, xRows + yRows, [&](int begin, int end, int thread) {
        for (int j = begin; j < std::min(end, xRows); ++j) {
            const auto row = static_cast<std::uint32_t>(j);
            double *out = rowOf(uTmp, row);
            if (j >= 2 && j <= rows - 1) {
                velloran::kernels::advectXFaces(simd, xPlan, j, j + 1, thread);
                std::fill(out, out + 2, 0.0);
                std::fill(out + n + 1, out + n + 3, 0.0);
            } else {
                std::fill(out, out + n + 3, 0.0);
            }
            std::copy(out, out + n + 3, rowOf(u, row));
        }
        const int yBegin = std::max(begin, xRows) - xRows;
        const int yEnd = end - xRows;
        if (yEnd > yBegin) {
            const int blockBegin = std::max(yBegin, 2);
            const int blockEnd = std::min(yEnd, rows + 1);
            if (blockBegin < blockEnd) {
                velloran::kernels::advectYFaces(simd, yPlan, blockBegin, blockEnd, thread);
            }
            for (int j = yBegin; j < yEnd; ++j) {
                double *out = rowOf(vTmp, static_cast<std::uint32_t>(j));
                if (j >= 2 && j <= rows) {
                    std::fill(out, out + 2, 0.0);
                    std::fill(out + n, out + n + 2, 0.0);
                } else {
                    std::fill(out, out + n + 2, 0.0);
                }
            }
        }
    });
    fillBoundary(kXFace, u);
    *m_v = vTmp;
    fillBoundary(kYFace, *m_v);
}
// Unsplit transport of the density along both axes from the same old values.
// Leaves the density 0 on a border two entries wide: smoke that reaches it
// leaves the simulation.
void Solver::advectDensity() {
    const std::uint32_t n = interiorSide(*m_density);
    requireShape(*m_density, n + 2, n + 2);
    requireShape(*m_densityTmp, n + 2, n + 2);
    requireShape(*m_u, n + 2, n + 3);
    requireShape(*m_v, n + 3, n + 2);

    CellFluxPlan plan;
    plan.mode = CellFluxMode::AdvectDensity;
    plan.n = static_cast<int>(n);
    plan.q = m_density->data();
    plan.speedX = m_u->data();
    plan.speedY = m_v->data();
    plan.out = m_densityTmp->data();
    plan.cellStride = n + 2;
    plan.xStride = n + 3;
    plan.lambda = m_dtOverH;
    plan.scratch = m_faceRows.data();

    // The scratch is zero outside the block of columns and rows 2..n-1, which
    // the job writes in full; the density then becomes a copy of it.
    const int rows = static_cast<int>(n);
    const velloran::SimdLevel simd = m_simd;
    Grid &rhoTmp = *m_densityTmp;
    forRows(0, rows + 2, [&](int begin, int end, int thread) {
        const int blockBegin = std::max(begin, 2);
        const int blockEnd = std::min(end, rows);
        if (blockBegin < blockEnd) {
            velloran::kernels::cellFlux(simd, plan, blockBegin, blockEnd, thread);
        }
        for (int j = begin; j < end; ++j) {
            double *out = rowOf(rhoTmp, static_cast<std::uint32_t>(j));
            if (j >= 2 && j <= rows - 1) {
                std::fill(out, out + 2, 0.0);
                std::fill(out + n, out + n + 2, 0.0);
            } else {
                std::fill(out, out + n + 2, 0.0);
            }
        }
    });

    *m_density = rhoTmp;
}
// ---------------------------------------------------------------------------
// Pressure projection

// Removes the gradient of a pressure potential so the flow is (nearly)
// divergence-free. A fixed 20 Gauss-Seidel sweeps from zero bound the cost of a
// step; no residual is measured.
void Solver::project() {
    const double weight = static_cast<double>(0.25f);
    const double h = m_h;
    Grid &p = *m_pressure;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const std::uint32_t n = interiorSide(p);
    requireShape(p, n + 2, n + 2);
    requireShape(u, n + 2, n + 3);
    requireShape(v, n + 3, n + 2);

    // The sweeps start from zero and never write the frame; the wavefront
    // writes every interior entry.
    {
        double *bottom = rowOf(p, 0);
        double *top = rowOf(p, n + 1);
        std::fill(bottom, bottom + n + 2, 0.0);
        std::fill(top, top + n + 2, 0.0);
        for (std::uint32_t j = 1; j <= n; ++j) {
            double *row = rowOf(p, j);
            row[0] = 0.0;
            row[n + 1] = 0.0;
        }
    }

    // The divergence term of every cell, the same in all sweeps, stored so that
    // each time step of the wavefront finds its lanes side by side: columns of
    // one parity, in decreasing order.
    const int origin = pressureSkewOrigin(n);
    const std::size_t skewStride = pressureSkewStride(n);
    double *skew[2] = {m_pressureSkew.data(), m_pressureSkew.data() + (n + 2) * skewStride};
    forSimpleRows(1, static_cast<int>(n) + 1, [&](int begin, int end, int) {
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

    std::fill(m_pressureRing.begin(), m_pressureRing.end(), 0.0);
    const std::size_t ringSize = (n + 2) * pressureLaneStride();
    PressurePlan plan;
    plan.n = static_cast<int>(n);
    plan.weight = weight;
    for (int k = 0; k < 3; ++k) {
        plan.ring[k] = cacheAligned(m_pressureRing) + static_cast<std::size_t>(k) * ringSize;
    }
    plan.laneStride = pressureLaneStride();
    plan.skew[0] = skew[0];
    plan.skew[1] = skew[1];
    plan.skewStride = skewStride;
    plan.skewOrigin = origin;
    plan.pressure = p.data();
    plan.pressureStride = n + 2;
    velloran::kernels::pressureSweeps(m_simd, plan);

    // The gradient step sees zero normal gradient at the walls, so the wall
    // faces keep their velocities.
    fillBoundary(kScalar, p);

    velloran::kernels::FaceDifferencePlan gradient;
    gradient.mode = velloran::kernels::FaceDifferenceMode::Subtract;
    gradient.n = static_cast<int>(n);
    gradient.cells = p.data();
    gradient.xFaces = u.data();
    gradient.yFaces = v.data();
    gradient.divisor = h;
    const velloran::SimdLevel simd = m_simd;
    forSimpleRows(1, static_cast<int>(n) + 2, [&](int begin, int end, int) {
        velloran::kernels::faceDifferences(simd, gradient, begin, end);
    });
    fillBoundary(kXFace, u);
    fillBoundary(kYFace, v);
}

// ---------------------------------------------------------------------------
// Smoke gathering

// Works on D = rho - rho*: face speeds are the blurred target times the
// gradient of D; stage one forms T = blurred rho* . rho . (D + flux terms),
// stage two adds vg times the flux-corrected T to the density.
void Solver::gatherSmoke() {
    const Grid &rho = *m_density;
    const Grid &target = *m_target;
    const Grid &blurTarget = *m_blurTarget;
    Grid &diff = *m_densityDiff;
    Grid &speedU = *m_uTmp;
    Grid &speedV = *m_vTmp;
    const std::uint32_t n = interiorSide(rho);
    requireShape(rho, n + 2, n + 2);
    requireShape(target, n + 2, n + 2);
    requireShape(blurTarget, n + 2, n + 2);
    requireShape(diff, n + 2, n + 2);
    requireShape(*m_densityTmp, n + 2, n + 2);
    requireShape(speedU, n + 2, n + 3);
    requireShape(speedV, n + 3, n + 2);

    forSimpleRows(0, static_cast<int>(n) + 2, [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *r = rowOf(rho, j);
            const double *t = rowOf(target, j);
            double *d = rowOf(diff, j);
            for (std::uint32_t i = 0; i < n + 2; ++i) {
                d[i] = r[i] - t[i];
            }
        }
    });
    fillBoundary(kScalar, diff);

    velloran::kernels::FaceDifferencePlan speeds;
    speeds.mode = velloran::kernels::FaceDifferenceMode::Speed;
    speeds.n = static_cast<int>(n);
    speeds.cells = diff.data();
    speeds.weights = blurTarget.data();
    speeds.xFaces = speedU.data();
    speeds.yFaces = speedV.data();
    speeds.divisor = m_twoH;
    forSimpleRows(1, static_cast<int>(n) + 2, [&](int begin, int end, int) {
        velloran::kernels::faceDifferences(m_simd, speeds, begin, end);
    });
    fillBoundary(kXFace, speedU);
    fillBoundary(kYFace, speedV);

    // Stage one reads D and writes T; T outside the block is 0, left so by
    // density advection. Stage two reads T and updates the density in place,
    // each cell reading only its own density.
    CellFluxPlan first;
    first.mode = CellFluxMode::GatherFirst;
    first.n = static_cast<int>(n);
    first.q = diff.data();
    first.speedX = speedU.data();
    first.speedY = speedV.data();
    first.rho = rho.data();
    first.blurTarget = blurTarget.data();
    first.out = m_densityTmp->data();
    first.cellStride = n + 2;
    first.xStride = n + 3;
    first.lambda = m_dtOverH;
    first.vg = m_vg;
    first.scratch = m_faceRows.data();

    CellFluxPlan second = first;
    second.mode = CellFluxMode::GatherSecond;
    second.q = m_densityTmp->data();
    second.out = m_density->data();

    const int rows = static_cast<int>(n);
    const velloran::SimdLevel simd = m_simd;
    forRows(2, rows, [&](int begin, int end, int thread) {
        velloran::kernels::cellFlux(simd, first, begin, end, thread);
    });
    forRows(2, rows, [&](int begin, int end, int thread) {
        velloran::kernels::cellFlux(simd, second, begin, end, thread);
    });
}
