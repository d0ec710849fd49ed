#pragma once

// ObstaclePoisson: solves, on the open cells of a run with obstacles,
//
//     sum over the cell's open neighbours of (p_k - p_c) = r_c
//
// for every open cell c: the five-point Laplacian with no flux through the
// domain's walls nor through any face of a solid cell (obstaclemap.h). Each
// open region is a Neumann problem of its own, so each region's right-hand
// side has its mean taken out first (it sums to zero up to rounding when it
// is a divergence); the solution is the one that is 0 at the region's first
// open cell (row by row). Solid cells get p = 0.
//
// The matrix is factorised once per obstacle image, a sparse LDL^T in the
// approximate minimum degree order; each solve is then two triangular sweeps
// and a division, all in one thread and a fixed order, so the result is the
// same bits whatever the thread count or vector flavour. Costs and the
// divergence left: docs/method.md, Obstacles.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velloran {

struct ObstacleMap;

// The same problem on a weighted graph: for every node c of a region,
//
//     sum over its edges of w (p_k - p_c) = r_c - size_c mean
//
// with the mean of the region's r per unit of size. The nodes sit at the
// places of a side x side grid (places row by row, a place's nodes numbered
// together, in place order); a place may hold no node or several. Sums over
// nodes run over the places columns outer and rows inner; the node held at 0
// is each region's first in node order.
struct NeumannGraph {
    struct Edge {
        int a, b;
        double weight;
    };
    std::uint32_t side = 0;
    std::vector<int> placeStart; // per place and one more: the place's first node
    std::vector<int> region;     // per node: its region, -1 for none (p = 0)
    std::vector<double> size;    // per node: its share of its region's mean
    int regions = 0;
    std::vector<Edge> edges; // each pair of nodes once
};

class ObstaclePoisson {
public:
    // The open cells of a run: a node per cell, an edge per open face.
    explicit ObstaclePoisson(const ObstacleMap &obstacles);
    explicit ObstaclePoisson(const NeumannGraph &graph);

    // r and p hold a value per node (per cell: N x N row by row, column i
    // of row j at i + j N); they may be the same array.
    void solve(const double *r, double *p);

private:
    std::vector<int> numberNodes(const NeumannGraph &graph);

    std::vector<int> m_region;      // per node: its region, -1 none
    std::vector<double> m_size;     // per node
    std::vector<int> m_sumOrder;    // the nodes in the order of the region sums
    std::vector<double> m_sizeOf;   // per region: its nodes' total size
    std::vector<double> m_rhsSum;   // per region: scratch for the right-hand side's sum
    std::vector<int> m_unknownNode; // per unknown in the factor's order: its node
    // The factor L (unit lower triangular, strict part column by column) and D.
    std::vector<int> m_columnStart;
    std::vector<int> m_row;
    std::vector<double> m_value;
    std::vector<double> m_diagonal;
    std::vector<double> m_work; // per unknown
};

} // namespace velloran
