#pragma once

// Export frame...: the frame shown, written as the renderer writes its
// frames; and the list of named grids the renderer's writers take, which the
// recording builds the same way.

#include "colourpicture.h"
#include "framewriter.h"
#include "simframe.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A frame's grids under the solver's names ("density", "uCentre", "vCentre",
// a colour run's further densities as "density.1" on, "solid" when given),
// with the names they point to kept alive beside them.
struct NamedGrids {
    std::vector<QByteArray> names;
    std::vector<SolverField> grids;
};
NamedGrids namedGrids(const Grid &density, const Grid &u, const Grid &v,
                      const std::vector<Grid> &fields, const Grid *solid);

// The name the dialog offers: the renderer's frame name for the frame's step,
// "frame_001234.png" (or ".exr").
QString exportFileName(const SimFrame &frame, bool exr);

// A name ending in ".exr" (any case) gets the renderer's EXR frame (white
// smoke, the density and velocity as float layers), one ending in ".vdb" its
// OpenVDB frame (density in half floats, velocity); one ending in ".npy" the
// renderer's raw fields of that step, each under the renderer's own name in
// the folder of the name chosen (*written lists them); any other name an
// 8-bit grey PNG exactly like the renderer's frames (the interior, upright).
// A colour run's frame (`picture` given) is its colour picture in the PNG, the
// picture and a layer per field in the EXR, a grid per field and their colour
// in the volume, one file per field in .npy. Each file is replaced only once the new one is
// complete. Returns false with the reason in *error. `solid`, the run's obstacles framed like the
// density, adds their layer or file.
bool exportFrame(const QString &path, const SimFrame &frame, QString *error,
                 const Grid *solid = nullptr, const velloran::ColourPicture *picture = nullptr,
                 QStringList *written = nullptr);
