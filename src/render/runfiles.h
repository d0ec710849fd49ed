#pragma once

// A run's files beside its frames: the metrics file and the convergence plot,
// begun with a fresh run and finished whatever ended it, and the summary
// printed at its end.

#include "framewriter.h"
#include "messages.h"
#include "metricsfile.h"
#include "outputfolder.h"
#include "renderjob.h"
#include "runloop.h"
#include "videoencoder.h"

#include <QString>

#include <cstdio>
#include <memory>
#include <vector>

namespace velloran {

// Everything but the per-frame files, once the run has started: the metrics
// file, the convergence plot.
struct RunFiles {
    OutputFolder &folder;
    MetricsFile &metrics;
    const std::vector<std::unique_ptr<FrameWriter>> &writers;
};

// Refuses (false, with *error) a folder that holds, under the name of one of
// the run's files, something other than a regular file: a device, a FIFO, a
// folder, or a link to one. The run would have to write in its place.
bool checkRunOutputsReplaceable(const RunFiles &files, const FrameNamePattern &names,
                                QString *error);

// Starts the metrics file and removes what an earlier render left in the
// folder, so files of two runs never mix.
bool beginRunFiles(const RunFiles &files, const FrameNamePattern &names, const Messages &messages,
                   QString *error);

// Metrics, plot and video after the last step, whatever ended the run; the
// first failure is reported and turns success into kExitOutputFailed.
int finishRun(const RenderJob &job, int side, const RunFiles &files, const RunLoop &loop,
              std::unique_ptr<VideoEncoder> &video, int code, const Messages &messages);

// What the run did and where its files are, on `summary`; `obstacles` is
// obstaclesNote's line (jobinputs.h), or empty.
void printSummary(const RenderJob &job, int side, const QString &obstacles, const RunLoop &loop,
                  const std::vector<std::unique_ptr<FrameWriter>> &writers, bool video,
                  FILE *summary);

} // namespace velloran
