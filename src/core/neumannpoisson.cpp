#include "neumannpoisson.h"

#include "check.h"
#include "lanedispatch.h"
#include "workerpool.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velloran {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxLanes = 8;

bool isPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

template <int L> using Lanes = typename lanes::Vec<L>::V;

// One line's transforms, L lines at a time: entry k of every line array is a
// vector of L values, one per line, stored at k * L. Each lane performs the
// operations of the plain single-line transform in the same order.
template <int L> struct LineTransform {
    const NeumannPoisson::Tables &t;
    double *re;
    double *im;
    double *padRe;
    double *padIm;

    static VELLORAN_INLINE Lanes<L> get(const double *line, int k) {
        return lanes::load<L>(line + static_cast<std::ptrdiff_t>(k) * L);
    }
    static VELLORAN_INLINE void put(double *line, int k, Lanes<L> value) {
        lanes::store<L>(line + static_cast<std::ptrdiff_t>(k) * L, value);
    }
    static VELLORAN_INLINE Lanes<L> splat(double x) { return lanes::splat<L>(x); }

    // Radix-2 decimation in time over `length` entries.
    VELLORAN_INLINE void fftPowerOfTwo(double *xr, double *xi, int length, int sign) const {
        for (int k = 0; k < length; ++k) {
            const int r = t.bitReverse[static_cast<std::size_t>(k)];
            if (r > k) {
                const Lanes<L> ar = get(xr, k);
                const Lanes<L> ai = get(xi, k);
                put(xr, k, get(xr, r));
                put(xi, k, get(xi, r));
                put(xr, r, ar);
                put(xi, r, ai);
            }
        }
        for (int span = 2; span <= length; span *= 2) {
            const int half = span / 2;
            const int stride = length / span;
            for (int start = 0; start < length; start += span) {
                for (int k = 0; k < half; ++k) {
                    const auto w = static_cast<std::size_t>(k * stride);
                    const Lanes<L> wr = splat(t.twRe[w]);
                    const Lanes<L> wi = splat(sign < 0 ? t.twIm[w] : -t.twIm[w]);
                    const int a = start + k;
                    const int b = a + half;
                    const Lanes<L> br = get(xr, b);
                    const Lanes<L> bi = get(xi, b);
                    const Lanes<L> tr = wr * br - wi * bi;
                    const Lanes<L> ti = wr * bi + wi * br;
                    const Lanes<L> ar = get(xr, a);
                    const Lanes<L> ai = get(xi, a);
                    put(xr, b, ar - tr);
                    put(xi, b, ai - ti);
                    put(xr, a, ar + tr);
                    put(xi, a, ai + ti);
                }
            }
        }
    }

    VELLORAN_INLINE void fft(int sign) const {
        if (!t.bluestein) {
            fftPowerOfTwo(re, im, t.n, sign);
            return;
        }
        const int n = t.n;
        const int length = t.fftLength;
        const double s = sign < 0 ? 1.0 : -1.0;
        const Lanes<L> zero{};
        for (int k = 0; k < length; ++k) {
            put(padRe, k, zero);
            put(padIm, k, zero);
        }
        for (int k = 0; k < n; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const Lanes<L> br = splat(t.chirpRe[kk]);
            const Lanes<L> bi = splat(s * t.chirpIm[kk]);
            const Lanes<L> xr = get(re, k);
            const Lanes<L> xi = get(im, k);
            put(padRe, k, xr * br + xi * bi);
            put(padIm, k, xi * br - xr * bi);
        }
        fftPowerOfTwo(padRe, padIm, length, -1);
        for (int k = 0; k < length; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const auto mirrored = static_cast<std::size_t>((length - k) % length);
            const Lanes<L> hr = splat(sign < 0 ? t.chirpHatRe[kk] : t.chirpHatRe[mirrored]);
            const Lanes<L> hi = splat(sign < 0 ? t.chirpHatIm[kk] : -t.chirpHatIm[mirrored]);
            const Lanes<L> pr = get(padRe, k);
            const Lanes<L> pi = get(padIm, k);
            put(padRe, k, pr * hr - pi * hi);
            put(padIm, k, pr * hi + pi * hr);
        }
        fftPowerOfTwo(padRe, padIm, length, 1);
        const Lanes<L> scale = splat(1.0 / length);
        for (int k = 0; k < n; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const Lanes<L> cr = get(padRe, k) * scale;
            const Lanes<L> ci = get(padIm, k) * scale;
            const Lanes<L> br = splat(t.chirpRe[kk]);
            const Lanes<L> bi = splat(s * t.chirpIm[kk]);
            put(re, k, cr * br + ci * bi);
            put(im, k, ci * br - cr * bi);
        }
    }

    // The L columns starting at `column` of an N x N row-major array.
    VELLORAN_INLINE void forward(double *data, int column) const {
        const int n = t.n;
        const auto stride = static_cast<std::ptrdiff_t>(n);
        double *x = data + column;
        for (int k = 0; 2 * k < n; ++k) {
            put(re, k, lanes::load<L>(x + 2 * k * stride));
        }
        for (int k = 0; 2 * k + 1 < n; ++k) {
            put(re, n - 1 - k, lanes::load<L>(x + (2 * k + 1) * stride));
        }
        const Lanes<L> zero{};
        for (int k = 0; k < n; ++k) {
            put(im, k, zero);
        }
        fft(-1);
        for (int k = 0; k < n; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            lanes::store<L>(x + k * stride,
                            get(re, k) * splat(t.rotCos[kk]) + get(im, k) * splat(t.rotSin[kk]));
        }
    }

    VELLORAN_INLINE void inverse(double *data, int column) const {
        const int n = t.n;
        const auto stride = static_cast<std::ptrdiff_t>(n);
        double *x = data + column;
        for (int k = 0; k < n; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const Lanes<L> c = splat(t.rotCos[kk]);
            const Lanes<L> s = splat(t.rotSin[kk]);
            const Lanes<L> xk = lanes::load<L>(x + k * stride);
            const Lanes<L> xMirror = k == 0 ? Lanes<L>{} : lanes::load<L>(x + (n - k) * stride);
            put(re, k, c * xk + s * xMirror);
            put(im, k, s * xk - c * xMirror);
        }
        fft(1);
        const Lanes<L> count = splat(static_cast<double>(n));
        for (int k = 0; 2 * k < n; ++k) {
            lanes::store<L>(x + 2 * k * stride, get(re, k) / count);
        }
        for (int k = 0; 2 * k + 1 < n; ++k) {
            lanes::store<L>(x + (2 * k + 1) * stride, get(re, n - 1 - k) / count);
        }
    }
};

struct ColumnTransformKernel {
    static constexpr bool kWide = true;
    template <int W>
    static VELLORAN_INLINE void run(const NeumannPoisson::Tables &tables, double *const &data,
                                    const int &first, const int &last, const bool &inverse,
                                    double *const &scratch) {
        const auto n = static_cast<std::size_t>(tables.n);
        const auto padded = static_cast<std::size_t>(tables.fftLength);
        double *re = scratch;
        double *im = re + n * kMaxLanes;
        double *padRe = im + n * kMaxLanes;
        double *padIm = padRe + padded * kMaxLanes;
        int column = first;
        const LineTransform<W> wide{tables, re, im, padRe, padIm};
        for (; column + W <= last; column += W) {
            if (inverse) {
                wide.inverse(data, column);
            } else {
                wide.forward(data, column);
            }
        }
        const LineTransform<1> single{tables, re, im, padRe, padIm};
        for (; column < last; ++column) {
            if (inverse) {
                single.inverse(data, column);
            } else {
                single.forward(data, column);
            }
        }
    }
};

// Bluestein's chirp for a line of n that is not a power of two, and the
// transform of the chirp padded to the FFT length.
void buildChirp(int n, NeumannPoisson::Tables *tables) {
    NeumannPoisson::Tables &t = *tables;
    const int length = t.fftLength;
    // n^2 is reduced modulo 2N before it becomes an angle, so the chirp stays
    // accurate for long lines.
    t.chirpRe.resize(static_cast<std::size_t>(n));
    t.chirpIm.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const std::int64_t square = static_cast<std::int64_t>(k) * k % (2 * n);
        const double angle = kPi * static_cast<double>(square) / n;
        t.chirpRe[static_cast<std::size_t>(k)] = std::cos(angle);
        t.chirpIm[static_cast<std::size_t>(k)] = std::sin(angle);
    }
    const auto padded = static_cast<std::size_t>(length);
    t.chirpHatRe.assign(padded, 0.0);
    t.chirpHatIm.assign(padded, 0.0);
    for (int k = 0; k < n; ++k) {
        t.chirpHatRe[static_cast<std::size_t>(k)] = t.chirpRe[static_cast<std::size_t>(k)];
        t.chirpHatIm[static_cast<std::size_t>(k)] = t.chirpIm[static_cast<std::size_t>(k)];
    }
    for (int k = 1; k < n; ++k) {
        t.chirpHatRe[static_cast<std::size_t>(length - k)] = t.chirpRe[static_cast<std::size_t>(k)];
        t.chirpHatIm[static_cast<std::size_t>(length - k)] = t.chirpIm[static_cast<std::size_t>(k)];
    }
    // The padded chirp's own transform, one lane.
    const LineTransform<1> single{t, nullptr, nullptr, nullptr, nullptr};
    single.fftPowerOfTwo(t.chirpHatRe.data(), t.chirpHatIm.data(), length, -1);
}

void buildTables(int n, NeumannPoisson::Tables *tables) {
    NeumannPoisson::Tables &t = *tables;
    t.n = n;
    t.rotCos.resize(static_cast<std::size_t>(n));
    t.rotSin.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double angle = kPi * k / (2.0 * n);
        t.rotCos[static_cast<std::size_t>(k)] = std::cos(angle);
        t.rotSin[static_cast<std::size_t>(k)] = std::sin(angle);
    }
    t.bluestein = !isPowerOfTwo(n);
    t.fftLength = n;
    if (t.bluestein) {
        t.fftLength = 1;
        while (t.fftLength < 2 * n - 1) {
            t.fftLength *= 2;
        }
    }
    const int length = t.fftLength;
    const auto half = static_cast<std::size_t>(length / 2);
    t.twRe.resize(half);
    t.twIm.resize(half);
    for (std::size_t k = 0; k < half; ++k) {
        const double angle = 2.0 * kPi * static_cast<double>(k) / length;
        t.twRe[k] = std::cos(angle);
        t.twIm[k] = -std::sin(angle);
    }
    int bits = 0;
    while ((1 << bits) < length) {
        ++bits;
    }
    t.bitReverse.resize(static_cast<std::size_t>(length));
    for (int k = 0; k < length; ++k) {
        int reversed = 0;
        for (int b = 0; b < bits; ++b) {
            reversed |= ((k >> b) & 1) << (bits - 1 - b);
        }
        t.bitReverse[static_cast<std::size_t>(k)] = reversed;
    }
    if (t.bluestein) {
        buildChirp(n, &t);
    }
}

// Rows [begin, end) of dst = transpose of src (both N x N), in tiles.
void transposeRows(const double *src, double *dst, int n, int begin, int end) {
    constexpr int kTile = 32;
    const auto stride = static_cast<std::size_t>(n);
    for (int j0 = begin; j0 < end; j0 += kTile) {
        const int j1 = std::min(end, j0 + kTile);
        for (int i0 = 0; i0 < n; i0 += kTile) {
            const int i1 = std::min(n, i0 + kTile);
            for (int j = j0; j < j1; ++j) {
                for (int i = i0; i < i1; ++i) {
                    dst[static_cast<std::size_t>(j) * stride + static_cast<std::size_t>(i)] =
                        src[static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(j)];
                }
            }
        }
    }
}

} // namespace

NeumannPoisson::NeumannPoisson(int n, int threads)
    : m_n(n) {
    VELLORAN_CHECK(n > 0);
    buildTables(n, &m_tables);
    m_eigen.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        m_eigen[static_cast<std::size_t>(k)] = 2.0 * std::cos(kPi * k / n) - 2.0;
    }
    m_transposed.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    m_scratchPerThread =
        (2 * static_cast<std::size_t>(n) + 2 * static_cast<std::size_t>(m_tables.fftLength)) *
        kMaxLanes;
    m_scratch.assign(m_scratchPerThread * static_cast<std::size_t>(std::max(threads, 1)), 0.0);
}

void NeumannPoisson::columns(double *data, int first, int last, bool inverse, int part) {
    double *scratch = m_scratch.data() + static_cast<std::size_t>(part) * m_scratchPerThread;
    kernels::LaneDispatch<ColumnTransformKernel>::run(m_simd, m_tables, data, first, last, inverse,
                                                      scratch);
}

void NeumannPoisson::solve(const double *r, double *p, WorkerPool *pool) {
    const int n = m_n;
    const auto count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    if (p != r) {
        std::copy(r, r + count, p);
    }
    double *t = m_transposed.data();
    const auto shared = [&](int begin, int end, auto &&body) {
        if (pool != nullptr) {
            pool->forRows(begin, end, body);
        } else {
            body(begin, end, 0);
        }
    };
    // Columns of p, then rows (as columns of the transpose), into the cosine
    // basis: t(k, l) then holds mode k along x and l along y at row k.
    shared(0, n, [&](int begin, int end, int part) { columns(p, begin, end, false, part); });
    shared(0, n, [&](int begin, int end, int) { transposeRows(p, t, n, begin, end); });
    shared(0, n, [&](int begin, int end, int part) { columns(t, begin, end, false, part); });
    // Divide by the eigenvalues; the constant mode carries the free mean, set
    // to zero.
    shared(0, n, [&](int begin, int end, int) {
        for (int k = begin; k < end; ++k) {
            double *row = t + static_cast<std::size_t>(k) * static_cast<std::size_t>(n);
            const double eigenK = m_eigen[static_cast<std::size_t>(k)];
            for (int l = 0; l < n; ++l) {
                row[l] = (k == 0 && l == 0)
                             ? 0.0
                             : row[l] / (eigenK + m_eigen[static_cast<std::size_t>(l)]);
            }
        }
    });
    shared(0, n, [&](int begin, int end, int part) { columns(t, begin, end, true, part); });
    shared(0, n, [&](int begin, int end, int) { transposeRows(t, p, n, begin, end); });
    shared(0, n, [&](int begin, int end, int part) { columns(p, begin, end, true, part); });
}

} // namespace velloran
