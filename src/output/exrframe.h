#pragma once

// One frame as an OpenEXR image, for compositing.
//
// Channels (sorted by name as EXR stores them):
//   A, B, G, R    half, premultiplied: A = smokeCoverage(rho), RGB = A times the
//                 smoke colour in linear light
//   density       float, rho unclamped (non-finite values kept)
//   density.<name> float, in a colour run one per field in place of density,
//                 named by the field's colour ("density.e03020"); RGBA are
//                 then the run's picture (colourpicture.h) with its colour in
//                 linear light, premultiplied by its alpha
//   solid         float, 1 in an obstacle's cells, 0 elsewhere (runs with
//                 obstacles only)
//   velocity.u    float, x-velocity at the cell centre
//   velocity.v    float, y-velocity at the cell centre
// The N x N interior only, upright: image line 0 is grid row N. ZIP compression.

#include "smokecolour.h"

#include "grid.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace velloran {

struct ColourPicture;

struct FrameFields {
    const Grid &density; // cell-centred, (N + 2) x (N + 2)
    const Grid &uCentre;
    const Grid &vCentre;
    const Grid *solid = nullptr; // the obstacles, framed like the density; null: none
    // A colour run: every field's density in field order ("density" first),
    // and the picture they make; null: a grey run.
    std::vector<const Grid *> fields = {};
    const ColourPicture *picture = nullptr;
};

// The complete file contents; empty, with *error set, if the library fails.
QByteArray exrBytes(const FrameFields &fields, const SmokeColour &colour, QString *error);

} // namespace velloran
