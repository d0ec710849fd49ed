#include "balancingblocks.h"

#include "obstaclemap.h"

#include <map>
#include <utility>

namespace velloran {

BalancingBlocks::BalancingBlocks(const ObstacleMap &obstacles)
    : m_n(obstacles.m_lattice.n)
    , m_block(balancingBlock(m_n))
    , m_side(m_n / m_block) {
    findPieces(obstacles);
    m_poisson = std::make_unique<ObstaclePoisson>(joinPieces(obstacles));
    findCorners();
}

// Pieces block by block (row by row), within a block flood fills started row
// by row.
void BalancingBlocks::findPieces(const ObstacleMap &obstacles) {
    const std::size_t n = m_n;
    m_nodeOf.assign(n * n, -1);
    m_firstNode.assign(static_cast<std::size_t>(m_side) * m_side + 1, 0);
    m_blockOf.clear();
    std::vector<std::size_t> stack;
    int nodes = 0;
    for (std::uint32_t by = 0; by < m_side; ++by) {
        for (std::uint32_t bx = 0; bx < m_side; ++bx) {
            const std::size_t block = bx + static_cast<std::size_t>(by) * m_side;
            m_firstNode[block] = nodes;
            const std::uint32_t i0 = bx * m_block;
            const std::uint32_t j0 = by * m_block;
            for (std::uint32_t j = j0; j < j0 + m_block; ++j) {
                for (std::uint32_t i = i0; i < i0 + m_block; ++i) {
                    const std::size_t start = i + j * n;
                    if (m_nodeOf[start] >= 0 || !obstacles.isOpen(i + 1, j + 1)) {
                        continue;
                    }
                    const int node = nodes++;
                    m_blockOf.push_back(static_cast<int>(block));
                    m_nodeOf[start] = node;
                    stack.push_back(start);
                    while (!stack.empty()) {
                        const std::size_t at = stack.back();
                        stack.pop_back();
                        const auto ai = static_cast<std::uint32_t>(at % n);
                        const auto aj = static_cast<std::uint32_t>(at / n);
                        const std::pair<std::uint32_t, std::uint32_t> next[4] = {
                            {ai - 1, aj}, {ai + 1, aj}, {ai, aj - 1}, {ai, aj + 1}};
                        for (const auto &[ni, nj] : next) {
                            // Unsigned: one below the first column wraps past the last.
                            if (ni - i0 >= m_block || nj - j0 >= m_block ||
                                !obstacles.isOpen(ni + 1, nj + 1) || m_nodeOf[ni + nj * n] >= 0) {
                                continue;
                            }
                            m_nodeOf[ni + nj * n] = node;
                            stack.push_back(ni + nj * n);
                        }
                    }
                }
            }
        }
    }
    m_firstNode.back() = nodes;
}

// The pieces' regions, sizes and joins: each open face between two pieces
// counts towards their join.
NeumannGraph BalancingBlocks::joinPieces(const ObstacleMap &obstacles) {
    const std::size_t n = m_n;
    const auto nodes = static_cast<std::size_t>(m_firstNode.back());
    NeumannGraph graph;
    graph.side = m_side;
    graph.placeStart = m_firstNode;
    graph.region.assign(nodes, -1);
    graph.size.assign(nodes, 0.0);
    graph.regions = obstacles.m_regions;
    std::map<std::pair<int, int>, int> faces;
    for (std::uint32_t j = 0; j < m_n; ++j) {
        for (std::uint32_t i = 0; i < m_n; ++i) {
            const int node = m_nodeOf[i + j * n];
            if (node < 0) {
                continue;
            }
            graph.region[static_cast<std::size_t>(node)] =
                obstacles.m_region[obstacles.index(i + 1, j + 1)];
            graph.size[static_cast<std::size_t>(node)] += 1.0;
            const int right = i + 1 < m_n ? m_nodeOf[i + 1 + j * n] : -1;
            const int above = j + 1 < m_n ? m_nodeOf[i + (j + 1) * n] : -1;
            for (const int other : {right, above}) {
                if (other >= 0 && other != node) {
                    ++faces[{std::min(node, other), std::max(node, other)}];
                }
            }
        }
    }
    m_links.assign(nodes, {});
    for (const auto &[pair, count] : faces) {
        graph.edges.push_back(
            {pair.first, pair.second, static_cast<double>(count) / static_cast<double>(m_block)});
        m_links[static_cast<std::size_t>(pair.first)].emplace_back(pair.second, count);
        m_links[static_cast<std::size_t>(pair.second)].emplace_back(pair.first, count);
    }
    return graph;
}

void BalancingBlocks::findCorners() {
    const std::size_t n = m_n;
    // The piece of block (bx, by) with the most faces to `from` (the first
    // of equals), -1 for none.
    const auto linked = [&](int from, std::uint32_t bx, std::uint32_t by) {
        const auto block = static_cast<int>(bx + static_cast<std::size_t>(by) * m_side);
        int best = -1;
        int most = 0;
        for (const auto &[other, count] : m_links[static_cast<std::size_t>(from)]) {
            if (m_blockOf[static_cast<std::size_t>(other)] == block && count > most) {
                best = other;
                most = count;
            }
        }
        return best;
    };
    m_corners.assign(n * n, {-1, -1, -1, -1});
    for (std::uint32_t j = 1; j <= m_n; ++j) {
        const BlockSpot y = balancingSpot(j, m_block, m_side);
        for (std::uint32_t i = 1; i <= m_n; ++i) {
            const std::size_t cell = (i - 1) + (j - 1) * n;
            const int own = m_nodeOf[cell];
            if (own < 0) {
                continue;
            }
            const BlockSpot x = balancingSpot(i, m_block, m_side);
            // The cell's block is the spot's or the next (the spot's when the
            // fraction is 0, and then the other is never read).
            const std::uint32_t ownX = (i - 1) / m_block;
            const std::uint32_t ownY = (j - 1) / m_block;
            const std::uint32_t otherX = ownX == x.block ? x.block + 1 : x.block;
            const std::uint32_t otherY = ownY == y.block ? y.block + 1 : y.block;
            int row = x.fraction == 0.0 ? -1 : linked(own, otherX, ownY);
            int column = y.fraction == 0.0 ? -1 : linked(own, ownX, otherY);
            int diagonal = -1;
            if (row >= 0 && column >= 0) {
                diagonal = linked(row, otherX, otherY);
                if (diagonal < 0) {
                    diagonal = linked(column, otherX, otherY);
                }
                if (diagonal < 0) {
                    diagonal = column;
                }
            }
            if (row < 0) {
                row = own;
            }
            if (column < 0) {
                column = own;
                diagonal = row;
            } else if (diagonal < 0) {
                diagonal = column;
            }
            const bool ownLow = ownX == x.block;
            const std::array<int, 2> lower =
                ownLow ? std::array<int, 2>{own, row} : std::array<int, 2>{row, own};
            const std::array<int, 2> upper = ownLow ? std::array<int, 2>{column, diagonal}
                                                    : std::array<int, 2>{diagonal, column};
            const bool ownBelow = ownY == y.block;
            m_corners[cell] = ownBelow ? std::array<int, 4>{lower[0], lower[1], upper[0], upper[1]}
                                       : std::array<int, 4>{upper[0], upper[1], lower[0], lower[1]};
        }
    }
}

} // namespace velloran
