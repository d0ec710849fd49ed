#pragma once

// velloran-render's work: check every input before anything is written, then
// run the job (runloop.h) and write frames, fields, metrics, a plot and
// optionally a video.
//
// The parts, one file each: options.h and optiontable.h (the command line),
// renderjob.h (options and files to a job), jobinputs.h (the inputs checked
// before anything is created), runfiles.h (metrics, plot, summary),
// resumerun.h (a run continued from its checkpoint), progress.h,
// interruption.h (stop signals); the files written come from src/output
// (outputfolder.h, framewriter.h, metricsfile.h, videoencoder.h, atomicfile.h).

#include "interruption.h"
#include "renderjob.h"

#include <QStringList>

#include <cstdio>

namespace velloran {

struct Checkpoint;

enum ExitCode : int {
    kExitOk = 0,
    kExitOutputFailed = 1, // a write failed after the run had started
    kExitBadInput = 2,
    kExitUnstable = 3,
    kExitInterrupted = 130, // Ctrl-C; SIGTERM gives 143, SIGHUP 129
};

// Runs the job: checks the images and the output folder (bad input returns
// kExitBadInput before anything is created), steps, writes. Progress goes to
// `progress` (stderr in the program), the final summary to `summary`. `notes`
// (what resolveJob had to say) are printed once the inputs have passed their
// checks, so that a refusal is one line. With `resume`, continues the run of
// that checkpoint (the job made from it) in the job's folder instead of
// starting afresh.
int runJob(const RenderJob &job, FILE *progress, FILE *summary, const QStringList &notes = {},
           const Checkpoint *resume = nullptr);

// The program's entry, minus the application object.
int renderMain(const QStringList &arguments);

} // namespace velloran
