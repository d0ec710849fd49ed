#pragma once

// The names a render will write, checked before its output folder is touched:
// a frame name that is one of the run's own files (the plot, the metrics)
// would overwrite it, and a name longer than the folder's file system allows
// would fail only once the run had begun changing the folder.

#include "framewriter.h"
#include "job.h"

#include <QString>

#include <memory>
#include <vector>

namespace velloran {

// False, with a one-line *error, when a writer would name a frame like one of
// the run's own files or the video, or when the longest name the run writes
// (with the temporary name it is first written under) exceeds the limit of the
// file system that holds, or will hold, job.outDir.
bool checkOutputNames(const RenderJob &job,
                      const std::vector<std::unique_ptr<FrameWriter>> &writers, QString *error);

} // namespace velloran
