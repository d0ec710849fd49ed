#pragma once

// Grid: the one container of the numerical core, a dense 2-D array of doubles.
//
// Element (i, j) is column i (the x coordinate) and row j (the y coordinate);
// row 0 is the bottom of the picture. Storage is row by row, so element (i, j)
// lives at i + j * m_cols and the column index runs fastest. Every caller passes
// the column index first.
//
// Both accessors check their indices in every build type. The indices are
// unsigned, so a negative index arrives as a huge value and fails the check.

#include "check.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

class Grid {
public:
    Grid(std::uint32_t rows, std::uint32_t cols)
        : m_rows(rows)
        , m_cols(cols)
        , m_data(static_cast<std::size_t>(rows) * cols, 0.0) {}

    std::uint32_t NumRows() const { return m_rows; }
    std::uint32_t NumCols() const { return m_cols; }

    double &operator()(std::uint32_t i, std::uint32_t j) {
        VELLORAN_CHECK(i < m_cols);
        VELLORAN_CHECK(j < m_rows);
        return m_data[i + static_cast<std::size_t>(j) * m_cols];
    }

    double operator()(std::uint32_t i, std::uint32_t j) const {
        VELLORAN_CHECK(i < m_cols);
        VELLORAN_CHECK(j < m_rows);
        return m_data[i + static_cast<std::size_t>(j) * m_cols];
    }

    // Sets every element to 0.0; the dimensions stay.
    void SetZero() { std::fill(m_data.begin(), m_data.end(), 0.0); }

    // Raw storage, row by row. For kernels that have proved their whole index
    // range with the checks above and then walk rows directly.
    double *data() { return m_data.data(); }
    const double *data() const { return m_data.data(); }

    // Copying takes over the dimensions and all values, whatever the target
    // held before; assigning grids of equal shape reuses the storage.
    Grid(const Grid &) = default;
    Grid &operator=(const Grid &) = default;
    Grid(Grid &&) noexcept = default;
    Grid &operator=(Grid &&) noexcept = default;

private:
    std::uint32_t m_rows;
    std::uint32_t m_cols;
    std::vector<double> m_data;
};

// Largest absolute element value. Starts from 0.0 and replaces the running
// maximum only on a strictly greater value, so an empty grid yields 0.0 and
// NaN elements are never chosen.
inline double maxAbs(const Grid &grid) {
    double largest = 0.0;
    for (std::uint32_t j = 0; j < grid.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < grid.NumCols(); ++i) {
            const double value = std::fabs(grid(i, j));
            if (value > largest) {
                largest = value;
            }
        }
    }
    return largest;
}

// True when no element is infinite or NaN. Every element times zero is zero
// exactly when it is finite, and a NaN survives any sum, so eight independent
// running sums of those products decide it in one streaming pass.
inline bool allFinite(const Grid &grid) {
    const double *data = grid.data();
    const std::size_t count = static_cast<std::size_t>(grid.NumRows()) * grid.NumCols();
    double sums[8] = {};
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        for (int lane = 0; lane < 8; ++lane) {
            sums[lane] += data[k + static_cast<std::size_t>(lane)] * 0.0;
        }
    }
    for (; k < count; ++k) {
        sums[0] += data[k] * 0.0;
    }
    double total = 0.0;
    for (double sum : sums) {
        total += sum;
    }
    return total == 0.0;
}
