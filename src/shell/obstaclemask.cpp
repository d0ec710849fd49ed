#include "obstaclemask.h"

#include <algorithm>

namespace velloran {

namespace {

// Lengths measured in units of 1 / (pixels * side): a pixel spans `side`
// units along its axis and a cell `pixels` units, so every overlap is an
// integer and a cell's whole area is width * height.
std::int64_t overlap(std::int64_t pixel, std::int64_t cell, std::int64_t pixels,
                     std::int64_t side) {
    const std::int64_t lo = std::max(pixel * side, cell * pixels);
    const std::int64_t hi = std::min((pixel + 1) * side, (cell + 1) * pixels);
    return hi > lo ? hi - lo : 0;
}

} // namespace

Grid resampleObstacles(const std::vector<std::uint8_t> &solid, int width, int height, int side) {
    const auto n = static_cast<std::uint32_t>(side);
    Grid mask(n, n);
    const std::int64_t w = width;
    const std::int64_t h = height;
    const std::int64_t s = side;
    for (std::int64_t i = 0; i < s; ++i) {
        const std::int64_t x0 = i * w / s;
        const std::int64_t x1 = std::min(w - 1, ((i + 1) * w - 1) / s);
        for (std::int64_t r = 0; r < s; ++r) { // r: cell row counted from the top
            const std::int64_t y0 = r * h / s;
            const std::int64_t y1 = std::min(h - 1, ((r + 1) * h - 1) / s);
            std::int64_t covered = 0;
            for (std::int64_t y = y0; y <= y1; ++y) {
                const std::int64_t dy = overlap(y, r, h, s);
                for (std::int64_t x = x0; x <= x1; ++x) {
                    if (solid[static_cast<std::size_t>(y * w + x)] != 0) {
                        covered += dy * overlap(x, i, w, s);
                    }
                }
            }
            // Whole cell: w * h units; solid when at least half of it is covered.
            mask(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(s - 1 - r)) =
                2 * covered >= w * h ? 1.0 : 0.0;
        }
    }
    return mask;
}

std::int64_t solidCellCount(const Grid &mask) {
    std::int64_t count = 0;
    for (std::uint32_t j = 0; j < mask.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < mask.NumCols(); ++i) {
            count += mask(i, j) > 0.5 ? 1 : 0;
        }
    }
    return count;
}

} // namespace velloran
