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
#include <vector>

namespace velloran {

struct ObstacleMap;

class ObstaclePoisson {
public:
    explicit ObstaclePoisson(const ObstacleMap &obstacles);

    // r and p hold N x N values row by row (row j, column i at i + j N); they
    // may be the same array.
    void solve(const double *r, double *p);

private:
    std::vector<int> numberCells(const ObstacleMap &obstacles);

    int m_n = 0;
    std::vector<int> m_region;      // per cell, row by row: its open region, -1 solid
    std::vector<double> m_cellsIn;  // per region: its open cells
    std::vector<double> m_rhsSum;   // per region: scratch for the right-hand side's sum
    std::vector<int> m_unknownCell; // per unknown in the factor's order: its cell
    // The factor L (unit lower triangular, strict part column by column) and D.
    std::vector<int> m_columnStart;
    std::vector<int> m_row;
    std::vector<double> m_value;
    std::vector<double> m_diagonal;
    std::vector<double> m_work; // per unknown
};

} // namespace velloran
