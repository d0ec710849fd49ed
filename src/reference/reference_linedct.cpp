#include "reference_linedct.h"

#include "check.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace velloran {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool isPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

int log2Of(int powerOfTwo) {
    int bits = 0;
    while ((1 << bits) < powerOfTwo) {
        ++bits;
    }
    return bits;
}

} // namespace

ReferenceLineDct::ReferenceLineDct(int n)
    : m_n(n) {
    VELLORAN_CHECK(n > 0);
    m_rotCos.resize(static_cast<std::size_t>(n));
    m_rotSin.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double angle = kPi * k / (2.0 * n);
        m_rotCos[static_cast<std::size_t>(k)] = std::cos(angle);
        m_rotSin[static_cast<std::size_t>(k)] = std::sin(angle);
    }
    m_re.assign(static_cast<std::size_t>(n), 0.0);
    m_im.assign(static_cast<std::size_t>(n), 0.0);

    m_bluestein = !isPowerOfTwo(n);
    m_fftLength = n;
    if (m_bluestein) {
        m_fftLength = 1;
        while (m_fftLength < 2 * n - 1) {
            m_fftLength *= 2;
        }
    }
    const int length = m_fftLength;
    const auto half = static_cast<std::size_t>(length / 2);
    m_twRe.resize(half);
    m_twIm.resize(half);
    for (std::size_t k = 0; k < half; ++k) {
        const double angle = 2.0 * kPi * static_cast<double>(k) / length;
        m_twRe[k] = std::cos(angle);
        m_twIm[k] = -std::sin(angle);
    }
    const int bits = log2Of(length);
    m_bitReverse.resize(static_cast<std::size_t>(length));
    for (int k = 0; k < length; ++k) {
        int reversed = 0;
        for (int b = 0; b < bits; ++b) {
            reversed |= ((k >> b) & 1) << (bits - 1 - b);
        }
        m_bitReverse[static_cast<std::size_t>(k)] = reversed;
    }

    if (m_bluestein) {
        buildChirp();
    }
}

// Bluestein's chirp for a line that is not a power of two, its padded copy's
// transform and the padded line buffers.
void ReferenceLineDct::buildChirp() {
    const int n = m_n;
    const int length = m_fftLength;
    // n^2 is reduced modulo 2N before it becomes an angle, so the chirp
    // stays accurate for long lines.
    m_chirpRe.resize(static_cast<std::size_t>(n));
    m_chirpIm.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const std::int64_t square = static_cast<std::int64_t>(k) * k % (2 * n);
        const double angle = kPi * static_cast<double>(square) / n;
        m_chirpRe[static_cast<std::size_t>(k)] = std::cos(angle);
        m_chirpIm[static_cast<std::size_t>(k)] = std::sin(angle);
    }
    const auto padded = static_cast<std::size_t>(length);
    m_chirpHatRe.assign(padded, 0.0);
    m_chirpHatIm.assign(padded, 0.0);
    for (int k = 0; k < n; ++k) {
        m_chirpHatRe[static_cast<std::size_t>(k)] = m_chirpRe[static_cast<std::size_t>(k)];
        m_chirpHatIm[static_cast<std::size_t>(k)] = m_chirpIm[static_cast<std::size_t>(k)];
    }
    for (int k = 1; k < n; ++k) {
        m_chirpHatRe[static_cast<std::size_t>(length - k)] = m_chirpRe[static_cast<std::size_t>(k)];
        m_chirpHatIm[static_cast<std::size_t>(length - k)] = m_chirpIm[static_cast<std::size_t>(k)];
    }
    fftPowerOfTwo(m_chirpHatRe.data(), m_chirpHatIm.data(), length, m_twRe.data(), m_twIm.data(),
                  m_bitReverse.data(), -1);
    m_padRe.assign(padded, 0.0);
    m_padIm.assign(padded, 0.0);
}

// Iterative radix-2 decimation in time: bit-reversed order, then log2(L)
// rounds of butterflies.
void ReferenceLineDct::fftPowerOfTwo(double *re, double *im, int length, const double *twRe,
                                     const double *twIm, const int *bitReverse, int sign) const {
    for (int k = 0; k < length; ++k) {
        const int r = bitReverse[k];
        if (r > k) {
            std::swap(re[k], re[r]);
            std::swap(im[k], im[r]);
        }
    }
    for (int span = 2; span <= length; span *= 2) {
        const int half = span / 2;
        const int stride = length / span;
        for (int start = 0; start < length; start += span) {
            for (int k = 0; k < half; ++k) {
                const double wr = twRe[k * stride];
                const double wi = sign < 0 ? twIm[k * stride] : -twIm[k * stride];
                const int a = start + k;
                const int b = a + half;
                const double tr = wr * re[b] - wi * im[b];
                const double ti = wr * im[b] + wi * re[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] = re[a] + tr;
                im[a] = im[a] + ti;
            }
        }
    }
}

void ReferenceLineDct::fft(double *re, double *im, int sign) {
    if (!m_bluestein) {
        fftPowerOfTwo(re, im, m_n, m_twRe.data(), m_twIm.data(), m_bitReverse.data(), sign);
        return;
    }
    // X_k = conj(b_k) sum_n (x_n conj(b_n)) b_(k-n) for the forward sign; the
    // backward transform is the same with every chirp conjugated.
    const int n = m_n;
    const int length = m_fftLength;
    const double s = sign < 0 ? 1.0 : -1.0; // sign of the chirps' imaginary parts
    for (int k = 0; k < length; ++k) {
        m_padRe[static_cast<std::size_t>(k)] = 0.0;
        m_padIm[static_cast<std::size_t>(k)] = 0.0;
    }
    for (int k = 0; k < n; ++k) {
        const double br = m_chirpRe[static_cast<std::size_t>(k)];
        const double bi = s * m_chirpIm[static_cast<std::size_t>(k)];
        // x * conj(b)
        m_padRe[static_cast<std::size_t>(k)] = re[k] * br + im[k] * bi;
        m_padIm[static_cast<std::size_t>(k)] = im[k] * br - re[k] * bi;
    }
    fftPowerOfTwo(m_padRe.data(), m_padIm.data(), length, m_twRe.data(), m_twIm.data(),
                  m_bitReverse.data(), -1);
    for (int k = 0; k < length; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        // The transform of the conjugated chirp is the conjugate of the chirp's
        // transform mirrored in k.
        const auto mirrored = static_cast<std::size_t>((length - k) % length);
        const double hr = sign < 0 ? m_chirpHatRe[kk] : m_chirpHatRe[mirrored];
        const double hi = sign < 0 ? m_chirpHatIm[kk] : -m_chirpHatIm[mirrored];
        const double pr = m_padRe[kk];
        const double pi = m_padIm[kk];
        m_padRe[kk] = pr * hr - pi * hi;
        m_padIm[kk] = pr * hi + pi * hr;
    }
    fftPowerOfTwo(m_padRe.data(), m_padIm.data(), length, m_twRe.data(), m_twIm.data(),
                  m_bitReverse.data(), 1);
    const double scale = 1.0 / length;
    for (int k = 0; k < n; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        const double cr = m_padRe[kk] * scale;
        const double ci = m_padIm[kk] * scale;
        const double br = m_chirpRe[kk];
        const double bi = s * m_chirpIm[kk];
        re[k] = cr * br + ci * bi;
        im[k] = ci * br - cr * bi;
    }
}

void ReferenceLineDct::forward(double *x) {
    const int n = m_n;
    double *re = m_re.data();
    double *im = m_im.data();
    for (int k = 0; 2 * k < n; ++k) {
        re[k] = x[2 * k];
    }
    for (int k = 0; 2 * k + 1 < n; ++k) {
        re[n - 1 - k] = x[2 * k + 1];
    }
    for (int k = 0; k < n; ++k) {
        im[k] = 0.0;
    }
    fft(re, im, -1);
    for (int k = 0; k < n; ++k) {
        x[k] = re[k] * m_rotCos[static_cast<std::size_t>(k)] +
               im[k] * m_rotSin[static_cast<std::size_t>(k)];
    }
}

void ReferenceLineDct::inverse(double *x) {
    const int n = m_n;
    double *re = m_re.data();
    double *im = m_im.data();
    for (int k = 0; k < n; ++k) {
        const double c = m_rotCos[static_cast<std::size_t>(k)];
        const double s = m_rotSin[static_cast<std::size_t>(k)];
        const double xk = x[k];
        const double xMirror = k == 0 ? 0.0 : x[n - k];
        re[k] = c * xk + s * xMirror;
        im[k] = s * xk - c * xMirror;
    }
    fft(re, im, 1);
    for (int k = 0; 2 * k < n; ++k) {
        x[2 * k] = re[k] / n;
    }
    for (int k = 0; 2 * k + 1 < n; ++k) {
        x[2 * k + 1] = re[n - 1 - k] / n;
    }
}

} // namespace velloran
