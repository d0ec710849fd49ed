#pragma once

// NumPy arrays in and out, in the layout of the renderer's .npy files:
// a[j, i] is cell (i, j), row 0 at the bottom of the picture, which is the
// row-by-row storage of a Grid, so both directions are a plain copy or no
// copy at all.

#include "grid.h"
#include "targetschedule.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

namespace velloran::binding {

// An N x N grid from anything NumPy turns into a 2-D array of real numbers
// (booleans, integers and floats of any width are converted to float64).
// Refused with InputError: other dtypes, other dimensions, non-square or
// empty arrays, sides above the run set-up's image limit, and non-finite or
// negative values (a density is never negative). `name` names the argument
// in the messages.
Grid densityGrid(pybind11::handle array, const char *name);

// Refused with InputError when every value of `grid` is 0: like the run
// set-up refuses a black image, since the solver would scale a run, or a
// target, to nothing.
void requireSmoke(const Grid &grid, const std::string &name);

// Further targets given as a sequence of (step, target) or (step, target,
// blend) items: steps whole numbers above 0 and increasing, blends whole
// numbers not below 0, targets N x N densities with smoke, as densityGrid
// takes them.
// Anything else is refused with InputError.
std::vector<Keyframe> keyframeList(pybind11::handle sequence, std::uint32_t n);

// Obstacles given as an n x n array in the densities' orientation: a cell is
// solid where its value is above one half. Another shape, or a value that is
// not finite, is refused with InputError. The result holds 1 and 0.
Grid obstacleGrid(pybind11::handle array, std::uint32_t n);

// A read-only float64 view of a grid's storage (shape rows x cols, no copy)
// that keeps `owner` alive as long as the view exists.
pybind11::array readOnlyView(const Grid &grid, pybind11::handle owner);

// A new float64 array holding a copy of a grid.
pybind11::array arrayCopy(const Grid &grid);

// A copy of a 2-D array of real numbers framed by a border of one zero cell,
// for the renderer's picture writer. Refused like densityGrid except that any
// shape and any finite or non-finite value are accepted.
Grid framedPicture(pybind11::handle array);

} // namespace velloran::binding
