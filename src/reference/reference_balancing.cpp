// The sound scheme's balancing force (balancing.h), plain.

#include "reference_solver.h"

#include "balancing.h"
#include "balancingblocks.h"
#include "lattice.h"
#include "obstaclepoisson.h"
#include "reference_poisson.h"

#include <cmath>
#include <vector>

// The misfit summed over each block (its columns, within each its rows), phi
// solved on the blocks and interpolated at the cells between the block
// centres. With obstacles the sums and phi are per piece of a block.
Grid ReferenceSolver::balancingPotential() const {
    const Grid &rho = *m_density;
    const Grid &target = *m_target;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    if (m_balanceBlocks) {
        const velloran::BalancingBlocks &blocks = *m_balanceBlocks;
        const std::uint32_t block = blocks.m_block;
        std::vector<double> phi(static_cast<std::size_t>(blocks.m_firstNode.back()), 0.0);
        for (std::uint32_t by = 0; by < blocks.m_side; ++by) {
            for (std::uint32_t bx = 0; bx < blocks.m_side; ++bx) {
                for (std::uint32_t i = bx * block + 1; i <= bx * block + block; ++i) {
                    for (std::uint32_t j = by * block + 1; j <= by * block + block; ++j) {
                        const int node =
                            blocks.m_nodeOf[(i - 1) + static_cast<std::size_t>(j - 1) * n];
                        if (node >= 0) {
                            phi[node] = phi[node] + (rho(i, j) - target(i, j));
                        }
                    }
                }
            }
        }
        blocks.m_poisson->solve(phi.data(), phi.data());
        Grid cellPhi(rho.NumRows(), rho.NumCols());
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                cellPhi(i, j) =
                    blocks.phiAt(phi.data(), (i - 1) + static_cast<std::size_t>(j - 1) * n,
                                 velloran::balancingSpot(i, block, blocks.m_side),
                                 velloran::balancingSpot(j, block, blocks.m_side));
            }
        }
        return cellPhi;
    }
    const std::uint32_t block = velloran::balancingBlock(n);
    const std::uint32_t side = n / block;
    std::vector<double> phi(static_cast<std::size_t>(side) * side, 0.0);
    for (std::uint32_t by = 0; by < side; ++by) {
        for (std::uint32_t bx = 0; bx < side; ++bx) {
            double sum = 0.0;
            for (std::uint32_t i = bx * block + 1; i <= bx * block + block; ++i) {
                for (std::uint32_t j = by * block + 1; j <= by * block + block; ++j) {
                    sum = sum + (rho(i, j) - target(i, j));
                }
            }
            phi[bx + static_cast<std::size_t>(by) * side] = sum;
        }
    }
    velloran::ReferenceNeumannPoisson(static_cast<int>(side)).solve(phi.data(), phi.data());
    Grid cellPhi(rho.NumRows(), rho.NumCols());
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            cellPhi(i, j) =
                velloran::balancingPhiAt(phi.data(), side, velloran::balancingSpot(i, block, side),
                                         velloran::balancingSpot(j, block, side));
        }
    }
    return cellPhi;
}

// The balancing force (balancing.h): phi solves laplacian(phi) = rho - rho*
// with no flux through the walls on blocks of cells; every interior face's
// velocity gains dt times vf kBalancingForce grad(phi) times the weight of the
// face's mean blurred density.
void ReferenceSolver::applyBalancingForce() {
    m_substeps.balancing = 0;
    if (m_vf == 0.0) {
        return;
    }
    const Grid &rho = *m_density;
    const velloran::Lattice lattice = velloran::Lattice::of(rho);
    const std::uint32_t n = lattice.n;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            if (std::isnan(rho(i, j))) {
                m_hitSubcycleCap = true;
                return;
            }
        }
    }
    // Each face pushed by the difference of phi at its two cells, at most the
    // push limit.
    const Grid cellPhi = balancingPotential();
    const double scale = m_dt * velloran::balancingStrength(m_vf) * m_h;
    const double limit = velloran::kPushLimit * m_h / m_dt;
    Grid &u = *m_u;
    Grid &v = *m_v;
    const Grid &blurred = *m_blurDensity;
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double push =
                velloran::limitedPush(scale * (cellPhi(i, j) - cellPhi(i - 1, j)), limit);
            u(i, j) = u(i, j) +
                      push * velloran::balancingWeight(0.5 * (blurred(i - 1, j) + blurred(i, j)));
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            const double push =
                velloran::limitedPush(scale * (cellPhi(i, j) - cellPhi(i, j - 1)), limit);
            v(i, j) = v(i, j) +
                      push * velloran::balancingWeight(0.5 * (blurred(i, j - 1) + blurred(i, j)));
        }
    }
    m_substeps.balancing = 1;
}
