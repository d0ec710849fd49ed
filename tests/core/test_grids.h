#pragma once

// Small builders shared by the core tests.

#include "grid.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

inline Grid makeGrid(std::uint32_t rows, std::uint32_t cols,
                     const std::function<double(std::uint32_t, std::uint32_t)> &value) {
    Grid grid(rows, cols);
    for (std::uint32_t j = 0; j < rows; ++j) {
        for (std::uint32_t i = 0; i < cols; ++i) {
            grid(i, j) = value(i, j);
        }
    }
    return grid;
}

inline Grid uniformGrid(std::uint32_t n, double value) {
    return makeGrid(n, n, [value](std::uint32_t, std::uint32_t) { return value; });
}

// A soft-edged disc of density 1 centred at (cx, cy), radius r, in an n x n grid.
inline Grid discGrid(std::uint32_t n, double cx, double cy, double r) {
    return makeGrid(n, n, [=](std::uint32_t i, std::uint32_t j) {
        const double dx = (i + 0.5) - cx;
        const double dy = (j + 0.5) - cy;
        const double d = std::sqrt(dx * dx + dy * dy);
        return d <= r ? 1.0 : 0.0;
    });
}

inline bool equalBits(const Grid &a, const Grid &b) {
    if (a.NumRows() != b.NumRows() || a.NumCols() != b.NumCols()) {
        return false;
    }
    for (std::uint32_t j = 0; j < a.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < a.NumCols(); ++i) {
            const double x = a(i, j);
            const double y = b(i, j);
            if (std::memcmp(&x, &y, sizeof x) != 0) {
                return false;
            }
        }
    }
    return true;
}
