#pragma once

// Pieces of the plain sound scheme shared by its files.

#include "grid.h"

#include <algorithm>
#include <cstdint>

namespace velloran::reference {

// The faces on the walls of an N x N interior: x-faces 1 and N + 1 of every
// row, y-faces 1 and N + 1 of every column. Nothing crosses them.
inline void zeroWallFaces(Grid &xFaces, Grid &yFaces, std::uint32_t n) {
    for (std::uint32_t j = 1; j <= n; ++j) {
        xFaces(1, j) = 0.0;
        xFaces(n + 1, j) = 0.0;
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        yFaces(i, 1) = 0.0;
        yFaces(i, n + 1) = 0.0;
    }
}

// The faces of solid cells (solid: a framed cell grid, 1 solid, 0 open)
// between interior cells. Nothing crosses them either.
inline void zeroSolidFaces(Grid &xFaces, Grid &yFaces, const Grid &solid, std::uint32_t n) {
    for (std::uint32_t i = 2; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            if (solid(i - 1, j) != 0.0 || solid(i, j) != 0.0) {
                xFaces(i, j) = 0.0;
            }
        }
    }
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 2; j <= n; ++j) {
            if (solid(i, j - 1) != 0.0 || solid(i, j) != 0.0) {
                yFaces(i, j) = 0.0;
            }
        }
    }
}

inline double positivePart(double a) {
    return std::max(a, 0.0);
}

inline double negativePart(double a) {
    return std::min(a, 0.0);
}

} // namespace velloran::reference
