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

// The smoke a density counts as: none where it is negative or not finite.
double smokeAmount(double density);

// One cell's smoke: its premultiplied colour and alpha (light: C above and A =
// clamp(sum_i rho_i, 0, 1); dark: A = 1 - T and C = A m), and what it shows
// over the mode's plate, each channel in [0, 1]. `densities` framed N+2 grids,
// one per colour.
struct CellColour {
    double shown[3] = {0.0, 0.0, 0.0};
    double premultiplied[3] = {0.0, 0.0, 0.0};
    double alpha = 0.0;
};
CellColour cellColour(const std::vector<const Grid *> &densities, std::uint32_t i, std::uint32_t j,
                      const ColourPicture &picture);

// The N x N interior as 8-bit RGB of what the cells show, upright like
// densityImage.
QImage colourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture);
// The same drawn into *image, which is reused when it already has the size
// and format: the window redraws its live picture this way every frame.
void drawColourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture,
                     QImage *image);

// The same as 8-bit RGBA with straight alpha: alpha = A, colour = C / A (0
// where there is no smoke), for compositing over any plate.
QImage colourRgbaImage(const std::vector<const Grid *> &densities, const ColourPicture &picture);

// The colour error of a run: the mean absolute difference, per channel, of
// what the cells show (in [0, 1], not rounded to 8 bits) between the picture
// of `densities` and that of `targets`, over the target's pixels: the interior
// cells where the targets' densities add up to more than 0. 0 without any.
// A run measuring it every step keeps a ColourErrorMeter (colourerror.h).
double colourError(const std::vector<const Grid *> &densities,
                   const std::vector<const Grid *> &targets, const ColourPicture &picture);

} // namespace velloran
