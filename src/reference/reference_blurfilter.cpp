#include "reference_blurfilter.h"

#include <cmath>

void ReferenceBlurFilter::setSigma(double sigma) {
    VELLORAN_CHECK(sigma > 0.0);
    const auto r = static_cast<std::int32_t>(40 * sigma);
    m_kernel.assign(static_cast<std::size_t>(2 * r + 1), 0.0);
    m_radius = r;
    const double a = 1.0 / (2.5066282746310002 * sigma);
    for (std::int32_t k = 0; k <= 2 * r; ++k) {
        const std::int32_t d = k - r;
        m_kernel[static_cast<std::size_t>(k)] = a * std::exp(-(d * d) / (2 * sigma * sigma));
    }
}

void ReferenceBlurFilter::apply(const Grid &src, Grid &dst) {
    VELLORAN_CHECK(src.NumRows() == dst.NumRows());
    VELLORAN_CHECK(src.NumCols() == dst.NumCols());
    const auto rows = static_cast<std::int64_t>(src.NumRows());
    const auto cols = static_cast<std::int64_t>(src.NumCols());
    const std::int64_t r = m_radius;
    Grid tmp(src.NumRows(), src.NumCols());

    // Horizontal pass: taps in increasing k, out-of-range columns skipped.
    for (std::int64_t j = 0; j < rows; ++j) {
        for (std::int64_t i = 0; i < cols; ++i) {
            double sum = 0.0;
            for (std::int64_t k = 0; k <= 2 * r; ++k) {
                const std::int64_t column = i - r + k;
                if (column < 0 || column >= cols) {
                    continue;
                }
                sum += m_kernel[static_cast<std::size_t>(k)] *
                       src(static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(j));
            }
            tmp(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)) = sum;
        }
    }

    // Vertical pass, columns outer: taps in increasing l; the floor is added
    // once, after the whole sum.
    for (std::int64_t i = 0; i < cols; ++i) {
        for (std::int64_t j = 0; j < rows; ++j) {
            double sum = 0.0;
            for (std::int64_t l = 0; l <= 2 * r; ++l) {
                const std::int64_t row = j - r + l;
                if (row < 0 || row >= rows) {
                    continue;
                }
                sum += tmp(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(row)) *
                       m_kernel[static_cast<std::size_t>(l)];
            }
            dst(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)) = sum + 1e-256;
        }
    }
}
