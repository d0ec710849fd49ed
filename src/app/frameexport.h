#pragma once

// Export frame...: the density shown, written as the renderer writes its
// frames.

#include "simframe.h"

#include <QString>

// The name the dialog offers: the renderer's frame name for the frame's step,
// "frame_001234.png" (or ".exr").
QString exportFileName(const SimFrame &frame, bool exr);

// A name ending in ".exr" (any case) gets the renderer's EXR frame (white
// smoke, the density and velocity as float layers), one ending in ".vdb" its
// OpenVDB frame (density in half floats, velocity); any other name an 8-bit
// grey PNG exactly like the renderer's frames (the interior, upright). The
// file is replaced only once the new one is complete. Returns false with the
// reason in *error. `solid`, the run's obstacles framed like the density,
// adds their layer to EXR and OpenVDB files.
bool exportFrame(const QString &path, const SimFrame &frame, QString *error,
                 const Grid *solid = nullptr);
