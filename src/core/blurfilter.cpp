#include "blurfilter.h"

#include "kernels.h"
#include "workerpool.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

using velloran::kernels::BlurPlan;

void BlurFilter::setSigma(double sigma) {
    VELLORAN_CHECK(sigma > 0.0);
    const auto r = static_cast<std::int32_t>(40 * sigma);
    m_kernel.assign(static_cast<std::size_t>(2 * r + 1), 0.0);
    m_radius = r;
    const double a = 1.0 / (2.5066282746310002 * sigma);
    for (std::int32_t k = 0; k <= 2 * r; ++k) {
        const std::int32_t d = k - r;
        m_kernel[static_cast<std::size_t>(k)] = a * std::exp(-(d * d) / (2 * sigma * sigma));
    }

    // Beyond about 38.6 sigma the weights underflow to 0; the fast passes stop
    // at the last weight that is not zero.
    m_reach = 0;
    m_kernelFinite = true;
    for (std::int32_t k = 0; k <= 2 * r; ++k) {
        const double w = m_kernel[static_cast<std::size_t>(k)];
        m_kernelFinite = m_kernelFinite && std::isfinite(w);
        if (w != 0.0) {
            m_reach = std::max(m_reach, std::abs(k - r));
        }
    }
    // The kernel with zeros around it, as it is and reversed.
    const auto length = static_cast<std::size_t>(velloran::kernels::kBlurPad + 2 * r + 1 +
                                                 velloran::kernels::kBlurBlock);
    std::vector<double> reversed(length, 0.0);
    for (std::int32_t k = 0; k <= 2 * r; ++k) {
        reversed[static_cast<std::size_t>(velloran::kernels::kBlurPad + k)] =
            m_kernel[static_cast<std::size_t>(2 * r - k)];
    }
    // Copies of the reversed kernel shifted by 0 .. kBlurShifts - 1 entries, so
    // that the horizontal pass reads every block of weights from an aligned
    // address (a vector load across two cache lines costs twice as much).
    m_shiftedStride = (length + 7) / 8 * 8;
    m_shifted.assign(velloran::kernels::kBlurShifts * m_shiftedStride + 8, 0.0);
    double *shifted = alignedShifted();
    for (std::size_t m = 0; m < velloran::kernels::kBlurShifts; ++m) {
        for (std::size_t y = 0; y + m < length; ++y) {
            shifted[m * m_shiftedStride + y] = reversed[y + m];
        }
    }
    // Largest weight at each index and beyond, for the tail test of the passes.
    m_tailMax.assign(m_kernel.size(), 0.0);
    double largest = 0.0;
    for (std::int32_t k = 2 * r; k >= 0; --k) {
        largest = std::max(largest, std::fabs(m_kernel[static_cast<std::size_t>(k)]));
        m_tailMax[static_cast<std::size_t>(k)] = largest;
    }
    m_padded.assign(length, 0.0);
    for (std::int32_t k = 0; k <= 2 * r; ++k) {
        m_padded[static_cast<std::size_t>(velloran::kernels::kBlurPad + k)] =
            m_kernel[static_cast<std::size_t>(k)];
    }
}

namespace {

// The first entry of a buffer on a 64-byte boundary (the buffer holds 8 spare
// entries for this).
double *alignedTo64(std::vector<double> &buffer) {
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    return buffer.data() + (64 - address % 64) % 64 / sizeof(double);
}

} // namespace

double *BlurFilter::alignedShifted() {
    return alignedTo64(m_shifted);
}

void BlurFilter::apply(const Grid &src, Grid &dst) {
    VELLORAN_CHECK(src.NumRows() == dst.NumRows());
    VELLORAN_CHECK(src.NumCols() == dst.NumCols());
    // Without a width there is no kernel to read.
    VELLORAN_CHECK(!m_kernel.empty());
    const int rows = static_cast<int>(src.NumRows());
    const int cols = static_cast<int>(src.NumCols());
    if (rows == 0 || cols == 0) {
        return;
    }
    if (!m_kernelFinite) {
        applyPlain(src, dst);
        return;
    }

    BlurPlan plan = makePlan(src, dst);
    const velloran::SimdLevel simd = m_simd;
    const auto forRows = [this, rows](auto &&body) {
        if (m_workers != nullptr) {
            m_workers->forRows(0, rows, body);
        } else {
            body(0, rows, 0);
        }
    };

    // Horizontal pass.
    forRows([&](int begin, int end, int) {
        for (int j = begin; j < end; ++j) {
            blurRow(plan, j);
        }
    });

    bool overflow = false;
    plan.firstSmokyRow = rows;
    plan.lastSmokyRow = -1;
    for (int j = 0; j < rows; ++j) {
        overflow = overflow || m_rowOverflow[static_cast<std::size_t>(j)] != 0;
        if (m_smokeFirst[static_cast<std::size_t>(j)] <= m_smokeLast[static_cast<std::size_t>(j)]) {
            plan.firstSmokyRow = std::min(plan.firstSmokyRow, j);
            plan.lastSmokyRow = j;
        }
    }

    if (overflow) {
        plainColumns(plan);
        return;
    }

    // Largest |value| of the scratch in each row and all rows above it.
    double above = 0.0;
    for (int j = rows - 1; j >= 0; --j) {
        above = std::max(above, m_tmpRowMax[static_cast<std::size_t>(j)]);
        m_tmpTailMax[static_cast<std::size_t>(j)] = above;
    }

    forRows(
        [&](int begin, int end, int) { velloran::kernels::blurColumns(simd, plan, begin, end); });
}

// The scratch sized for the grid's shape (once per shape) and the plan of
// both passes over it.
BlurPlan BlurFilter::makePlan(const Grid &src, Grid &dst) {
    const int rows = static_cast<int>(src.NumRows());
    const int cols = static_cast<int>(src.NumCols());
    const auto stride =
        static_cast<std::size_t>((cols + velloran::kernels::kBlurBlock - 1) /
                                 velloran::kernels::kBlurBlock * velloran::kernels::kBlurBlock);
    const auto rowCount = static_cast<std::size_t>(rows);
    // Rows of the scratch start on 64-byte boundaries, like the strips the
    // vertical pass loads from them (8 spare entries for the alignment).
    if (m_tmp.size() < rowCount * stride + 8) {
        m_tmp.assign(rowCount * stride + 8, 0.0);
    }
    if (m_smokeFirst.size() < rowCount) {
        for (auto *perRow : {&m_smokeFirst, &m_smokeLast}) {
            perRow->resize(rowCount);
        }
        for (auto *perRow : {&m_rowFinite, &m_rowOverflow}) {
            perRow->resize(rowCount);
        }
        for (auto *perRow : {&m_srcRowMax, &m_tmpRowMax, &m_tmpTailMax}) {
            perRow->resize(rowCount);
        }
    }

    BlurPlan plan;
    plan.src = src.data();
    plan.tmp = alignedTo64(m_tmp);
    plan.dst = dst.data();
    plan.rows = rows;
    plan.cols = cols;
    plan.tmpStride = stride;
    plan.kernel = m_kernel.data();
    plan.padded = m_padded.data() + velloran::kernels::kBlurPad;
    plan.shifted = alignedShifted();
    plan.shiftedStride = m_shiftedStride;
    plan.radius = m_radius;
    plan.reach = m_reach;
    plan.smokeFirst = m_smokeFirst.data();
    plan.smokeLast = m_smokeLast.data();
    plan.tailMax = m_tailMax.data();
    plan.srcRowMax = m_srcRowMax.data();
    plan.tmpRowMax = m_tmpRowMax.data();
    plan.tmpTailMax = m_tmpTailMax.data();
    plan.rowOverflow = m_rowOverflow.data();
    return plan;
}

// One row of the horizontal pass. The row is first scanned for its smoke and
// for values that are not finite; such a row takes the plain loop, whose
// products with zero weights then carry the NaN exactly as they should.
void BlurFilter::blurRow(const BlurPlan &plan, int j) {
    const int cols = plan.cols;
    const double *s = plan.src + static_cast<std::size_t>(j) * static_cast<std::size_t>(cols);
    // Smoke extent from both ends; NaN counts as smoke. Zeros are finite, so
    // only the extent needs the finiteness check.
    int first = 0;
    while (first < cols && s[first] == 0.0) {
        ++first;
    }
    int last = cols - 1;
    while (last >= first && s[last] == 0.0) {
        --last;
    }
    double largest = 0.0;
    bool notFinite = false;
    if (first <= last) {
        velloran::kernels::RowExtentPlan extent;
        extent.row = s + first;
        extent.count = last - first + 1;
        extent.largest = &largest;
        extent.notFinite = &notFinite;
        velloran::kernels::rowExtent(m_simd, extent);
    }
    const bool finite = !notFinite;
    m_srcRowMax[static_cast<std::size_t>(j)] = largest;
    m_smokeFirst[static_cast<std::size_t>(j)] = first;
    m_smokeLast[static_cast<std::size_t>(j)] = last;
    m_rowFinite[static_cast<std::size_t>(j)] = finite ? 1 : 0;
    if (finite) {
        velloran::kernels::blurRows(m_simd, plan, j, j + 1);
        return;
    }
    const int r = m_radius;
    const double *kernel = m_kernel.data();
    double *t = plan.tmp + static_cast<std::size_t>(j) * plan.tmpStride;
    for (int i = 0; i < cols; ++i) {
        double sum = 0.0;
        for (int k = 0; k <= 2 * r; ++k) {
            const int column = i - r + k;
            if (column < 0 || column >= cols) {
                continue;
            }
            sum += kernel[k] * s[column];
        }
        t[i] = sum;
    }
    m_rowOverflow[static_cast<std::size_t>(j)] = 1;
}

// An infinity or NaN in the rows: the plain vertical loop, every tap.
void BlurFilter::plainColumns(const BlurPlan &plan) const {
    const int r = m_radius;
    const double *kernel = m_kernel.data();
    const int rows = plan.rows;
    const int cols = plan.cols;
    for (int i = 0; i < cols; ++i) {
        for (int j = 0; j < rows; ++j) {
            double sum = 0.0;
            for (int l = 0; l <= 2 * r; ++l) {
                const int row = j - r + l;
                if (row < 0 || row >= rows) {
                    continue;
                }
                sum += plan.tmp[static_cast<std::size_t>(row) * plan.tmpStride +
                                static_cast<std::size_t>(i)] *
                       kernel[l];
            }
            plan.dst[static_cast<std::size_t>(j) * static_cast<std::size_t>(cols) +
                     static_cast<std::size_t>(i)] = sum + 1e-256;
        }
    }
}

// The two passes exactly as defined, for kernels that are not finite.
void BlurFilter::applyPlain(const Grid &src, Grid &dst) {
    const auto rows = static_cast<std::int64_t>(src.NumRows());
    const auto cols = static_cast<std::int64_t>(src.NumCols());
    const std::int64_t r = m_radius;
    Grid tmp(src.NumRows(), src.NumCols());

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
