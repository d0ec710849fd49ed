#pragma once

// NeumannPoisson: solves, on an N x N block of cells,
//
//     sum over the cell's neighbours inside the block of (p_k - p_c) = r_c
//
// for every cell c: the five-point Laplacian with no flux through the block's
// sides (a wall cell has three neighbours, a corner cell two). The right-hand
// side must sum to zero; the solution is the one with zero mean. Solved
// directly: the cosine transform (DCT-II) diagonalises this Laplacian, with
// eigenvalue (2 cos(pi k / N) - 2) + (2 cos(pi l / N) - 2) for mode (k, l).
//
// Each line's transform goes through a complex fast Fourier transform of
// length N (Makhoul's reordering; radix 2 when N is a power of two, Bluestein's
// chirp convolution otherwise), so any N costs O(N^2 log N). Columns are
// transformed side by side in vector lanes, rows after a transpose; every lane
// does exactly the operations of the plain single-line transform, so the
// result is the same whatever the lane count or the thread sharing.

#include "simdlevel.h"

#include <cstddef>
#include <vector>

namespace velloran {

class WorkerPool;

class NeumannPoisson {
public:
    // threads: the most threads that will share one solve.
    NeumannPoisson(int n, int threads);

    int size() const { return m_n; }
    void setSimdLevel(SimdLevel level) { m_simd = level; }

    // r and p hold N x N values row by row (row j, column i at i + j N); they
    // may be the same array. The pool, when given, shares the lines. Twin:
    // ReferenceNeumannPoisson::solve.
    void solve(const double *r, double *p, WorkerPool *pool);

    // The tables one line's transform needs; shared by every lane.
    struct Tables {
        int n = 0;
        int fftLength = 0; // n, or Bluestein's padded power of two
        bool bluestein = false;
        std::vector<double> rotCos; // cos(pi k / (2N))
        std::vector<double> rotSin; // sin(pi k / (2N))
        std::vector<double> twRe;   // cos(2 pi k / L), k < L/2
        std::vector<double> twIm;   // -sin(2 pi k / L)
        std::vector<int> bitReverse;
        std::vector<double> chirpRe; // exp(i pi k^2 / N)
        std::vector<double> chirpIm;
        std::vector<double> chirpHatRe; // transform of the padded chirp
        std::vector<double> chirpHatIm;
    };

private:
    // Transforms the columns [first, last) of an N x N array in place.
    void columns(double *data, int first, int last, bool inverse, int part);

    int m_n = 0;
    SimdLevel m_simd = bestSimdLevel();
    Tables m_tables;
    std::vector<double> m_eigen;      // 2 cos(pi k / N) - 2
    std::vector<double> m_transposed; // N x N
    std::vector<double> m_scratch;    // per thread: re, im and two padded lines of 8 lanes
    std::size_t m_scratchPerThread = 0;
};

} // namespace velloran
