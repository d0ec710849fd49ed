#pragma once

// The balancing potential's blocks in a run with obstacles (balancing.h).
//
// Without obstacles phi is solved on square blocks of cells. A block may now
// hold open cells on both sides of a thin wall, so each block is split into
// its pieces: the open cells it holds that join through open faces within
// it. Every piece is a node of the coarse problem, and two pieces of
// neighbouring blocks are joined where any open face lies between their
// cells, with the weight of those faces' count over the block side (a whole
// open block side weighs 1, as between the blocks without obstacles). So the
// nodes join exactly as the open cells do: a gap narrower than a block still
// joins the two sides, a wall one cell thick still parts them, and phi rises
// along the ways around the obstacles.
//
// At a cell, phi is interpolated between the block centres as without
// obstacles, each of the four blocks giving the value of its piece that is
// joined to the cell's own, so that phi never reaches through a wall: along
// the row and the column, the next block's piece with the most faces to the
// cell's piece; diagonally, the piece joined the same way to the row's one
// (or else to the column's). Where the row's block has no such piece, the
// cell's own piece stands in for it; where the column's has none, the
// interpolation keeps to the cell's block row; where only the diagonal block
// has none, the column's piece stands in for it.
// Solid cells get phi = 0. Internal to the core.

#include "balancing.h"
#include "obstaclepoisson.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace velloran {

struct ObstacleMap;

struct BalancingBlocks {
    explicit BalancingBlocks(const ObstacleMap &obstacles);

    // phi at an interior cell (i - 1 + (j - 1) N) from phi per node.
    double phiAt(const double *phi, std::size_t cell, BlockSpot x, BlockSpot y) const {
        const std::array<int, 4> &corner = m_corners[cell];
        if (corner[0] < 0) {
            return 0.0;
        }
        const auto alongX = [&](int low, int high) {
            const double value = phi[low];
            return x.fraction == 0.0 ? value : value + (phi[high] - value) * x.fraction;
        };
        const double low = alongX(corner[0], corner[1]);
        return y.fraction == 0.0 ? low : low + (alongX(corner[2], corner[3]) - low) * y.fraction;
    }

    std::uint32_t m_n = 0;
    std::uint32_t m_block = 0;    // cells on a block's side
    std::uint32_t m_side = 0;     // blocks on the domain's side
    std::vector<int> m_firstNode; // per block (row by row) and one more: its first piece
    std::vector<int> m_nodeOf;    // per interior cell, row by row: its piece, -1 solid
    // Per interior cell: the pieces at the block centres around it, x low and
    // high in the lower block row, then in the upper; all -1 for a solid cell.
    std::vector<std::array<int, 4>> m_corners;
    std::unique_ptr<ObstaclePoisson> m_poisson;

private:
    void findPieces(const ObstacleMap &obstacles);
    NeumannGraph joinPieces(const ObstacleMap &obstacles);
    void findCorners();

    // Per piece: its neighbours and the count of open faces to each.
    std::vector<std::vector<std::pair<int, int>>> m_links;
    std::vector<int> m_blockOf; // per piece
};

} // namespace velloran
