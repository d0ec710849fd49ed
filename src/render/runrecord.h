#pragma once

// A render job as its checkpoint records it, and back: the images by content,
// the parameters, the scheme and keyframes, and the options that shape what
// the run writes.

#include "checkpointfile.h"
#include "renderjob.h"

#include <QString>

namespace velloran {

// Fingerprints the job's images (source, target, keyframes) and records the
// rest. False, with *error, if an image cannot be read.
bool recordRun(const RenderJob &job, int side, CheckpointRun *run, QString *error);

// The job a resumed run continues: everything from the record, the images at
// the places they had when the run started, the output in `folder`.
RenderJob jobOfRecord(const CheckpointRun &run, const QString &folder);

} // namespace velloran
