#include "smokefield.h"

#include "balancing.h"
#include "gatherweight.h"
#include "lattice.h"
#include "obstaclemap.h"
#include "stepping.h"

#include <algorithm>
#include <cmath>

namespace velloran {

SmokeField::SmokeField(const Lattice &lattice, const Grid &srcDensity, const Grid &tgtDensity)
    : m_density(makeGrid(lattice.cells()))
    , m_target(makeGrid(lattice.cells()))
    , m_blurDensity(makeGrid(lattice.cells()))
    , m_blurTarget(makeGrid(lattice.cells()))
    , m_densityDiff(makeGrid(lattice.cells()))
    , m_densityTmp(makeGrid(lattice.cells()))
    , m_driveU(makeGrid(lattice.xFaces()))
    , m_driveV(makeGrid(lattice.yFaces())) {
    copyIntoFrame(srcDensity, *m_density);
    copyIntoFrame(tgtDensity, *m_target);
    m_sourceMass = interiorSum(*m_density);
    m_targetMass = interiorSum(*m_target);
    equaliseMass(*m_density, *m_target);
}

void SmokeField::applyObstacles(const ObstacleMap &obstacles) {
    // Undo the equalisation first: the share of the target the obstacles
    // cover decides which of the two is scaled down now.
    scaleInteriorTo(*m_density, m_sourceMass);
    scaleInteriorTo(*m_target, m_targetMass);
    obstacles.moveOutOfSolids(*m_density);
    obstacles.clearSolids(*m_target);
    equaliseMass(*m_density, *m_target);
}

SmokeField::~SmokeField() = default;

// On every face, the difference of the blurred target across the face over
// h, divided by the face's mean blurred target. Twin:
// ReferenceSolver::computeTargetFields.
void SmokeField::computeTargetFields(Stepping &stepping, bool floored) {
    // Once per run, or per keyframe, usually outside a step: no pool.
    stepping.m_blur->setWorkers(nullptr);
    stepping.m_blur->apply(*m_target, *m_blurTarget);
    m_gatherWeightStale = true;

    const Grid &b = *m_blurTarget;
    Grid &driveU = *m_driveU;
    Grid &driveV = *m_driveV;
    const Lattice &lattice = stepping.m_lattice;
    const std::uint32_t n = lattice.n;
    const double h = stepping.m_h;
    requireShape(b, lattice.cells());
    requireShape(driveU, lattice.xFaces());
    requireShape(driveV, lattice.yFaces());

    // The sound scheme floors the denominator (balancing.h); the literal
    // scheme divides by the face mean alone.
    double floor = 0.0;
    if (floored) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            for (std::uint32_t i = 1; i <= n; ++i) {
                floor = std::max(floor, b(i, j));
            }
        }
        floor = kDriveFloor * floor;
    }
    // Row by row through memory; every entry is computed on its own, so the
    // order of the loops does not matter to the values.
    for (std::uint32_t j = 1; j <= lattice.wall; ++j) {
        const double *row = rowOf(b, j);
        const double *below = rowOf(b, j - 1);
        if (j <= n) {
            double *u = rowOf(driveU, j);
            for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
                if (floored) {
                    u[i] = ((row[i] - row[i - 1]) / h) / (0.5 * (row[i] + row[i - 1]) + floor);
                } else {
                    u[i] = ((row[i] - row[i - 1]) / h) / (0.5 * (row[i] + row[i - 1]));
                }
            }
        }
        double *v = rowOf(driveV, j);
        for (std::uint32_t i = 1; i <= n; ++i) {
            if (floored) {
                v[i] = ((row[i] - below[i]) / h) / (0.5 * (row[i] + below[i]) + floor);
            } else {
                v[i] = ((row[i] - below[i]) / h) / (0.5 * (row[i] + below[i]));
            }
        }
    }
}

void SmokeField::replaceTarget(const Grid &tgtDensity) {
    retarget(tgtDensity, *m_density, *m_target);
    m_gatherCredit = 0.0;
}

const Grid &SmokeField::gatherWeight(const Stepping &stepping) {
    const std::uint32_t n = stepping.m_lattice.n;
    const double sigma = gatherWeightSigma(n, stepping.m_sigma);
    if (sigma == stepping.m_sigma) {
        return *m_blurTarget;
    }
    if (m_gatherWeightStale) {
        if (!m_gatherBlur) {
            m_gatherBlur = std::make_unique<BlurFilter>();
            m_gatherWeight = makeGrid(stepping.m_lattice.cells());
        }
        m_gatherBlur->setSimdLevel(stepping.m_simd);
        m_gatherBlur->setSigma(sigma);
        m_gatherBlur->setWorkers(nullptr);
        m_gatherBlur->apply(*m_target, *m_gatherWeight);
        matchBlurScale(*m_gatherWeight, stepping.m_blur->kernel(), m_gatherBlur->kernel());
        m_gatherWeightStale = false;
    }
    return *m_gatherWeight;
}

void SmokeField::setTransportMeasured(bool measured) {
    if (!measured) {
        m_densityBefore.reset();
        return;
    }
    if (!m_densityBefore) {
        m_densityBefore = std::make_unique<Grid>(m_density->NumRows(), m_density->NumCols());
    }
}

// The copy is shared among the pool's threads by rows, as the stage before it
// left them in the threads' caches.
void SmokeField::snapshotDensity(Stepping &stepping, bool always) {
    if (always && !m_densityBefore) {
        m_densityBefore = std::make_unique<Grid>(m_density->NumRows(), m_density->NumCols());
    }
    if (!m_densityBefore) {
        return;
    }
    const Grid &from = *m_density;
    Grid &to = *m_densityBefore;
    const std::size_t width = from.NumCols();
    stepping.forSimpleRows(0, static_cast<int>(from.NumRows()), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            std::copy_n(rowOf(from, j), width, rowOf(to, j));
        }
    });
}

// Sum over the interior of |rho - rho before|: each column's sum down its
// rows, then those sums in column order; 0 when not measuring. The columns'
// sums are independent chains, so they are taken a row at a time as the
// cells lie in memory (the adds of a row side by side in vector lanes), and
// shared among the pool's threads by bands of columns: the same bits whatever
// the split.
double SmokeField::densityChange(Stepping &stepping) const {
    if (!m_densityBefore) {
        return 0.0;
    }
    const Grid &now = *m_density;
    const Grid &before = *m_densityBefore;
    const std::uint32_t n = now.NumCols() - 2;
    m_columnSums.assign(static_cast<std::size_t>(n) + 1, 0.0);
    double *columns = m_columnSums.data();
    stepping.forSimpleRows(1, static_cast<int>(n) + 1, [&](int begin, int end, int) {
        const auto first = static_cast<std::uint32_t>(begin);
        const auto last = static_cast<std::uint32_t>(end);
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double *a = rowOf(now, j);
            const double *b = rowOf(before, j);
            for (std::uint32_t i = first; i < last; ++i) {
                columns[i] += std::fabs(a[i] - b[i]);
            }
        }
    });
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        sum += columns[i];
    }
    return sum;
}

} // namespace velloran
