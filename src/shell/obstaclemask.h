#pragma once

// The obstacle image's picture scaled to the run's N x N grid.
//
// Each pixel is either solid or open (obstacleimage.h decides which from its
// colour). The picture, whatever its size and aspect ratio, is stretched over
// the grid, and a cell is solid when solid pixels cover at least half of its
// area, pixels that straddle a cell border counting with the part that lies
// inside it. The comparison is exact (integer areas), so a cell covered by
// exactly one half is solid on every machine.
//
// Thin lines: a line counts only with the area it covers, so walls must be
// drawn thick enough for the grid. In an image twice the grid's size a cell
// is 2 x 2 pixels and a one-pixel line covers half of every cell it runs
// through: a closed wall. In an image four times the grid's size the same
// line covers a quarter of each cell and vanishes (no wall at all). A wall
// one cell thick is closed wherever it lies; half a cell is enough only when
// it lies within one column (or row) of cells.

#include "grid.h"

#include <cstdint>
#include <vector>

namespace velloran {

// `solid` holds width x height flags, row by row from the top row of the
// picture. The result is side x side, unframed, row 0 the bottom of the
// picture like the density grids: 1 for a solid cell, 0 for an open one.
Grid resampleObstacles(const std::vector<std::uint8_t> &solid, int width, int height, int side);

// Number of solid cells of a mask as resampleObstacles makes it.
std::int64_t solidCellCount(const Grid &mask);

} // namespace velloran
