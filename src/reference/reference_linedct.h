#pragma once

// ReferenceLineDct: the cosine transforms of one line of N values, through a complex
// fast Fourier transform of length N (radix 2 when N is a power of two,
// Bluestein's chirp convolution otherwise), so every length costs O(N log N).
//
//   forward  X_k = sum_n x_n cos(pi k (2n + 1) / (2N))          (DCT-II, unscaled)
//   inverse  x_n = (X_0 + 2 sum_{k>0} X_k cos(pi k (2n + 1) / (2N))) / N
//            (DCT-III scaled so that inverse(forward(x)) = x)
//
// The cosines of the Neumann Laplacian's eigenvectors are exactly these basis
// functions, which is what the pressure solve uses them for. A plan is built
// once per length; transforms then allocate nothing. Not thread-safe: one plan
// per thread.

#include <cstddef>
#include <vector>

namespace velloran {

class ReferenceLineDct {
public:
    explicit ReferenceLineDct(int n);

    int size() const { return m_n; }

    // In place on n values.
    void forward(double *x);
    void inverse(double *x);

private:
    void buildChirp();
    // Complex transform of m_n values (re, im) in place; sign -1 forward,
    // +1 backward (unscaled).
    void fft(double *re, double *im, int sign);
    void fftPowerOfTwo(double *re, double *im, int length, const double *twRe, const double *twIm,
                       const int *bitReverse, int sign) const;

    int m_n = 0;
    // Makhoul's reordering turns the cosine transform into one Fourier
    // transform; these rotate its output (cos and sin of pi k / (2N)).
    std::vector<double> m_rotCos;
    std::vector<double> m_rotSin;
    std::vector<double> m_re;
    std::vector<double> m_im;

    // Radix-2 tables for the power-of-two length the transform runs at
    // (m_n itself, or Bluestein's padded length).
    int m_fftLength = 0;
    std::vector<double> m_twRe; // cos(2 pi k / L), k < L/2
    std::vector<double> m_twIm; // -sin(2 pi k / L)
    std::vector<int> m_bitReverse;

    // Bluestein: chirp b_n = exp(i pi n^2 / N) and the transform of the padded
    // chirp, plus a padded work line.
    bool m_bluestein = false;
    std::vector<double> m_chirpRe;
    std::vector<double> m_chirpIm;
    std::vector<double> m_chirpHatRe;
    std::vector<double> m_chirpHatIm;
    std::vector<double> m_padRe;
    std::vector<double> m_padIm;
};

} // namespace velloran
