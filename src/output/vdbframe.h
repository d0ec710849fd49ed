#pragma once

// One frame as an OpenVDB volume, for hosts that render smoke from grids.
//
// A slab of N x N x 1 voxels of size h = 1/N: grid cell (i, j) is voxel
// (i - 1, j - 1, 0), so the picture is upright (y up, as in the PNG frames),
// and the slab covers the unit square in world space (voxel centres at
// ((i - 0.5) h, (j - 0.5) h, h / 2), the solver's cell centres).
//   density    FloatGrid, fog volume: the density unclamped; cells whose
//              density is zero are inactive. Saved as half floats unless
//              full floats are asked for.
//   velocity   Vec3SGrid (or another name, e.g. "vel"): the cell-centred
//              velocity (u, v, 0), in full floats; zero vectors inactive.
//   solid      FloatGrid, in a run with obstacles only: 1 in the solid
//              cells (active), inactive elsewhere.
// Blosc compression (zip where the library lacks Blosc), active masks
// compressed. The file's UUID is derived from its contents, so the same frame
// always gives the same bytes.

#include "exrframe.h"

#include <QByteArray>
#include <QString>

namespace velloran {

struct VdbSettings {
    bool fullFloat = false; // density in 32-bit floats instead of half floats
    QString velocityName = QStringLiteral("velocity");
};

// The complete file contents; empty, with *error set, if the library fails.
QByteArray vdbBytes(const FrameFields &fields, const VdbSettings &settings, QString *error);

// The names a velocity grid may take.
bool isVdbVelocityName(const QString &name);

} // namespace velloran
