#pragma once

// A run continued from its checkpoint (--resume DIR): the checks once its
// folder is locked, the folder brought back to the checkpoint's step, and the
// video's frames before it.

#include "checkpointio.h"
#include "messages.h"
#include "options.h"
#include "outputfolder.h"
#include "renderjob.h"
#include "runfiles.h"
#include "videoencoder.h"

#include "solver.h"

#include <QString>

namespace velloran {

// The checks once the folder is locked, and the solver brought to the
// checkpoint's state. Nothing in the folder has changed yet.
bool prepareResume(const Checkpoint &checkpoint, int side, const OutputFolder &folder,
                   Solver &solver, QString *error);

// The metrics file continued at the checkpoint's row and the frames after it
// removed, so that the folder ends as an uninterrupted run leaves it; the
// video, if any, given the frames before it. *framesBefore: the frames the
// run had written. False with *error if the metrics file cannot continue.
bool resumeRunFiles(const RenderJob &job, const Checkpoint &checkpoint, const RunFiles &files,
                    VideoEncoder *video, const Messages &messages, int *framesBefore,
                    QString *error);

// --resume DIR: the job comes from the folder's checkpoint.
int resumeMain(const RenderOptions &options);

} // namespace velloran
