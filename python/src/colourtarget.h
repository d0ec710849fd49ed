#pragma once

// A colour run's new targets from Python (Run.set_target): one density per
// field, or a colour picture read with the run's palette as the renderer
// reads a palette run's keyframe images.

#include "colourpicture.h"
#include "grid.h"

#include <pybind11/pybind11.h>

#include <optional>
#include <vector>

namespace velloran::binding {

// `target` is a sequence of one N x N density per field (as densityGrid takes
// them), or a colour picture: an image file's path, or an N x N x 3 (or x 4)
// uint8 array with row 0 on top as Run.picture() gives it. A picture is split
// by the run's colours over `background` (a palette run's, found in its first
// target) or, when there is none, over the picture's most common colour.
// Every field needs smoke in its target. Refused with InputError (FileError
// for an unreadable file).
std::vector<Grid> colourTargets(pybind11::handle target, const ColourPicture &picture,
                                const std::optional<SmokeColour> &background, std::uint32_t n);

} // namespace velloran::binding
