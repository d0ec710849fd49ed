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
// A colour run's frame holds its smoke as
//   density    FloatGrid as above, of the fields' total sum_k rho_k (so a
//              set-up made for grey volumes renders it unchanged);
//   density.<colour>  FloatGrid, one per field like density, named by its
//              colour in lower-case hex ("density.e03020");
//   color      Vec3SGrid: the fields' mixture in linear light,
//              sum_k lin(c_k) rho_k / sum_k rho_k (negative and non-finite
//              densities count as none), active where there is smoke, so
//              density x color is the light each cell emits (the light-mode
//              picture before clamping).
// Blosc compression (zip where the library lacks Blosc), active masks
// compressed. The file's UUID is derived from its contents, so the same frame
// always gives the same bytes.

#include "exrframe.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace velloran {

// A colour run's field: its grid's name and its colour in linear light.
struct VdbField {
    QString name; // "density.e03020"
    float linear[3] = {0.0f, 0.0f, 0.0f};
};

struct VdbSettings {
    bool fullFloat = false; // density in 32-bit floats instead of half floats
    QString velocityName = QStringLiteral("velocity");
    std::vector<VdbField> fields; // a colour run's, in field order; empty: grey
};

// The complete file contents; empty, with *error set, if the library fails.
QByteArray vdbBytes(const FrameFields &fields, const VdbSettings &settings, QString *error);

// The names a velocity grid may take.
bool isVdbVelocityName(const QString &name);

} // namespace velloran
