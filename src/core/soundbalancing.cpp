// The sound scheme's balancing force (balancing.h).

#include "soundscheme.h"

#include "balancingblocks.h"
#include "flow.h"
#include "neumannpoisson.h"
#include "smokefield.h"
#include "stepping.h"

#include <cmath>

namespace velloran {

using kernels::Extent;

// The misfit and phi per block, phi at the cells, and along a line where each
// cell lies between the block centres.
void SoundScheme::allocateBalancing() {
    const std::uint32_t n = m_run.m_lattice.n;
    const std::uint32_t block = balancingBlock(n);
    const std::uint32_t side = n / block;
    m_balancePoisson =
        std::make_unique<NeumannPoisson>(static_cast<int>(side), m_run.m_threadCount);
    m_balanceMisfit.assign(static_cast<std::size_t>(side) * side, 0.0);
    m_balanceCells.assign(static_cast<std::size_t>(n) * n, 0.0);
    m_balanceSpot.assign(m_run.m_lattice.cellSide, BlockSpot{});
    for (std::uint32_t a = 1; a <= n; ++a) {
        m_balanceSpot[a] = balancingSpot(a, block, side);
    }
}

// The misfit summed over blocks, phi from the Neumann solve on the blocks,
// interpolated onto the cells; each interior face's velocity gains dt times
// the force per unit of blurred smoke, strength grad(phi) across the face,
// times the face's weight. With obstacles the blocks are split into their
// pieces (balancingblocks.h); the faces of solid cells are closed after the
// push. Twin: ReferenceSolver::applyBalancingForce.
void SoundScheme::applyBalancingForce(SmokeField &smoke) {
    m_run.m_substeps.balancing = 0;
    if (m_run.m_vf == 0.0) {
        return;
    }
    const Lattice &lattice = m_run.m_lattice;
    requireShape(*smoke.m_density, lattice.cells());
    requireShape(*smoke.m_target, lattice.cells());
    requireShape(*smoke.m_blurDensity, lattice.cells());
    requireShape(*m_flow.m_u, lattice.xFaces());
    requireShape(*m_flow.m_v, lattice.yFaces());
    if (m_balanceBlocks) {
        if (!balancingMisfitOnPieces(smoke)) {
            m_run.m_hitSubcycleCap = true;
            return;
        }
        const BalancingBlocks &blocks = *m_balanceBlocks;
        double *phi = m_balancePieces.data();
        blocks.m_poisson->solve(phi, phi);
        const std::uint32_t n = lattice.n;
        double *cellPhi = m_balanceCells.data();
        const BlockSpot *spot = m_balanceSpot.data();
        m_run.forRows(1, static_cast<int>(lattice.wall), [&](int begin, int end, int) {
            for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end);
                 ++j) {
                const std::size_t first = static_cast<std::size_t>(j - 1) * n - 1;
                for (std::uint32_t i = 1; i <= n; ++i) {
                    cellPhi[first + i] = blocks.phiAt(phi, first + i, spot[i], spot[j]);
                }
            }
        });
        balancingPush(smoke);
        m_run.m_substeps.balancing = 1;
        return;
    }
    if (!balancingMisfit(smoke)) {
        m_run.m_hitSubcycleCap = true;
        return;
    }
    const std::uint32_t n = lattice.n;
    const std::uint32_t side = n / balancingBlock(n);
    double *misfit = m_balanceMisfit.data();
    m_balancePoisson->solve(misfit, misfit, m_run.poolFor(side));

    // phi at the cells, interpolated between the block centres (balancing.h);
    // branchy scalar work, shared from the flux kernels' threshold on.
    double *cellPhi = m_balanceCells.data();
    const BlockSpot *spot = m_balanceSpot.data();
    m_run.forRows(1, static_cast<int>(lattice.wall), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            double *out = cellPhi + static_cast<std::size_t>(j - 1) * n - 1;
            for (std::uint32_t i = 1; i <= n; ++i) {
                out[i] = balancingPhiAt(misfit, side, spot[i], spot[j]);
            }
        }
    });
    balancingPush(smoke);
    m_run.m_substeps.balancing = 1;
}

// Block sums of rho - rho*, each over its columns and within a column over
// its rows; false when any cell's density is NaN (the run has blown up).
bool SoundScheme::balancingMisfit(const SmokeField &smoke) {
    const std::uint32_t n = m_run.m_lattice.n;
    const std::uint32_t block = balancingBlock(n);
    const std::uint32_t side = n / block;
    double *misfit = m_balanceMisfit.data();
    const double *rhoCells = smoke.m_density->data();
    const double *targetCells = smoke.m_target->data();
    const std::size_t stride = smoke.m_density->NumCols();
    const Extent densest = m_run.largestOver(0, static_cast<int>(side), [&](int begin, int end) {
        Extent extent;
        for (auto by = static_cast<std::uint32_t>(begin); by < static_cast<std::uint32_t>(end);
             ++by) {
            const std::size_t firstRow = static_cast<std::size_t>(by) * block + 1;
            for (std::uint32_t bx = 0; bx < side; ++bx) {
                const std::size_t firstColumn = static_cast<std::size_t>(bx) * block + 1;
                double sum = 0.0;
                for (std::size_t i = firstColumn; i < firstColumn + block; ++i) {
                    for (std::size_t j = firstRow; j < firstRow + block; ++j) {
                        const double r = rhoCells[i + j * stride];
                        sum = sum + (r - targetCells[i + j * stride]);
                        extent.nan = extent.nan || std::isnan(r);
                        if (extent.largest < r) {
                            extent.largest = r;
                        }
                    }
                }
                misfit[bx + static_cast<std::size_t>(by) * side] = sum;
            }
        }
        return extent;
    });
    return !densest.nan;
}

// The misfit summed over each block's pieces, the block's columns outer and
// rows inner; false when any density is NaN.
bool SoundScheme::balancingMisfitOnPieces(const SmokeField &smoke) {
    const BalancingBlocks &blocks = *m_balanceBlocks;
    const std::uint32_t n = blocks.m_n;
    const std::uint32_t block = blocks.m_block;
    const std::uint32_t side = blocks.m_side;
    double *misfit = m_balancePieces.data();
    const double *rhoCells = smoke.m_density->data();
    const double *targetCells = smoke.m_target->data();
    const std::size_t stride = smoke.m_density->NumCols();
    const Extent densest = m_run.largestOver(0, static_cast<int>(side), [&](int begin, int end) {
        Extent extent;
        for (auto by = static_cast<std::uint32_t>(begin); by < static_cast<std::uint32_t>(end);
             ++by) {
            const std::size_t firstRow = static_cast<std::size_t>(by) * block + 1;
            for (std::uint32_t bx = 0; bx < side; ++bx) {
                const std::size_t at = bx + static_cast<std::size_t>(by) * side;
                for (int node = blocks.m_firstNode[at]; node < blocks.m_firstNode[at + 1]; ++node) {
                    misfit[node] = 0.0;
                }
                const std::size_t firstColumn = static_cast<std::size_t>(bx) * block + 1;
                for (std::size_t i = firstColumn; i < firstColumn + block; ++i) {
                    for (std::size_t j = firstRow; j < firstRow + block; ++j) {
                        const double r = rhoCells[i + j * stride];
                        extent.nan = extent.nan || std::isnan(r);
                        const int node = blocks.m_nodeOf[(i - 1) + (j - 1) * n];
                        if (node >= 0) {
                            misfit[node] = misfit[node] + (r - targetCells[i + j * stride]);
                        }
                    }
                }
            }
        }
        return extent;
    });
    return !densest.nan;
}

// u += dt times the force per unit weight, strength grad(phi) at most the
// push limit, times the face's weight (balancing.h).
void SoundScheme::balancingPush(const SmokeField &smoke) {
    const std::uint32_t n = m_run.m_lattice.n;
    const double scale = m_run.m_dt * balancingStrength(m_run.m_vf) * m_run.m_h;
    const double limit = kPushLimit * m_run.m_h / m_run.m_dt;
    const double *cellPhi = m_balanceCells.data();
    Grid &u = *m_flow.m_u;
    Grid &v = *m_flow.m_v;
    const Grid &blurred = *smoke.m_blurDensity;
    // Two divisions a cell: worth sharing from the flux kernels' threshold on.
    m_run.forRows(1, static_cast<int>(m_run.m_lattice.wall), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *b = rowOf(blurred, j);
            const double *phi = cellPhi + static_cast<std::size_t>(j - 1) * n - 1;
            double *uRow = rowOf(u, j);
            for (std::uint32_t i = 2; i <= n; ++i) {
                const double push = limitedPush(scale * (phi[i] - phi[i - 1]), limit);
                uRow[i] = uRow[i] + push * balancingWeight(0.5 * (b[i - 1] + b[i]));
            }
            if (j >= 2) {
                const double *bBelow = rowOf(blurred, j - 1);
                const double *phiBelow = phi - n;
                double *vRow = rowOf(v, j);
                for (std::uint32_t i = 1; i <= n; ++i) {
                    const double push = limitedPush(scale * (phi[i] - phiBelow[i]), limit);
                    vRow[i] = vRow[i] + push * balancingWeight(0.5 * (bBelow[i] + b[i]));
                }
            }
        }
    });
}

} // namespace velloran
