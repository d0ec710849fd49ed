#pragma once

// Frames with transparency: the smoke as colour and alpha, for compositing.

#include "smokecolour.h"

#include "grid.h"

#include <QImage>

namespace velloran {

// The N x N interior as 8-bit RGBA with straight (not premultiplied) alpha,
// upright like densityImage: alpha = smokeCoverage(rho) * 255 rounded, colour =
// `colour` everywhere.
QImage smokeImage(const Grid &density, const SmokeColour &colour);

// An RGBA frame laid over black, as a video shows it: colour times alpha.
QImage overBlack(const QImage &smoke);

} // namespace velloran
