#pragma once

// The picture of a run of several smoke fields, each of its own colour.
//
// Light (emissive smoke on a black plate): premultiplied colour
//   C = clamp(sum_i c_i rho_i, 0, 1) per channel, alpha A = clamp(sum_i rho_i, 0, 1),
// and the PNG shows C over black, which is C itself.
// Dark (absorbing dye on a white plate): the light let through is
//   T = exp(-k sum_i rho_i), k = kDarkAbsorption,
// and what is absorbed is replaced by the fields' mixture m = sum_i c_i rho_i /
// sum_i rho_i: the pixel is T + (1 - T) m per channel (white where there is no
// smoke, the field's own colour where it is dense).
// c_i are the 8-bit colours / 255; a density that is negative or not finite
// counts as none.

#include "colourrun.h"
#include "grid.h"

#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace velloran {

// Density 1 lets exp(-3), about 5 %, of the plate through.
constexpr double kDarkAbsorption = 3.0;

struct ColourPicture {
    std::vector<SmokeColour> colours; // one per field, in field order
    ColourMode mode = ColourMode::Light;
};

// The N x N interior as 8-bit RGB, upright like densityImage; `densities`
// framed N+2 grids, one per colour.
QImage colourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture);

} // namespace velloran
