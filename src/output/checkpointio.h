#pragma once

// checkpoint.vlck in an output folder: written so that a kill at any moment
// leaves the previous one whole, read with a message that says what is wrong.

#include "checkpointfile.h"

#include <QString>

namespace velloran {

// "checkpoint.vlck"
QString checkpointFileName();

// Replaces DIR/checkpoint.vlck once the new one is complete on disk.
bool saveCheckpoint(const QString &dir, const Checkpoint &checkpoint, QString *error);
// The same at any path (a Python run's checkpoint).
bool saveCheckpointFile(const QString &path, const Checkpoint &checkpoint, QString *error);

// Reads DIR/checkpoint.vlck. On failure a one-line *error: no folder, no
// checkpoint, or which way the file is unusable (another version, truncated,
// corrupted).
bool loadCheckpoint(const QString &dir, Checkpoint *out, QString *error);

// True when every image the run was made from still has the bytes it had;
// otherwise false with a message naming the image.
bool runImagesUnchanged(const CheckpointRun &run, QString *error);

} // namespace velloran
