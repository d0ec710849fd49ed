#pragma once

// ReferenceNeumannPoisson: solves, on an N x N block of cells,
//
//     sum over the cell's neighbours inside the block of (p_k - p_c) = r_c
//
// for every cell c: the five-point Laplacian with no flux through the block's
// sides (a wall cell has three neighbours, a corner cell two). The right-hand
// side must sum to zero; the solution is the one with zero mean. Solved
// directly: the cosine transform diagonalises this Laplacian, with eigenvalue
// (2 cos(pi k / N) - 2) + (2 cos(pi l / N) - 2) for mode (k, l).

#include "reference_linedct.h"

#include <vector>

namespace velloran {

class ReferenceNeumannPoisson {
public:
    explicit ReferenceNeumannPoisson(int n);

    int size() const { return m_n; }

    // r and p hold N x N values row by row (row j, column i at i + j N); they
    // may be the same array.
    void solve(const double *r, double *p);

private:
    int m_n = 0;
    ReferenceLineDct m_dct;
    std::vector<double> m_eigen; // 2 cos(pi k / N) - 2
    std::vector<double> m_column;
};

} // namespace velloran
