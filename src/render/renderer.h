#pragma once

// velloran-render's work: turn options into a job, check every input before
// anything is written, then step the run and write frames, fields, metrics,
// a plot and optionally a video.

#include "options.h"
#include "parameters.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velloran {

enum ExitCode : int {
    kExitOk = 0,
    kExitOutputFailed = 1, // a write failed after the run had started
    kExitBadInput = 2,
    kExitUnstable = 3,
    kExitInterrupted = 130,
};

struct RenderJob {
    QString sourcePath;
    QString targetPath;
    bool reverse = false;
    SimParameters parameters;
    int steps = 1000;
    int every = 10;
    QString outDir = QStringLiteral("render-out");
    bool png = true;
    bool npy = false;
    QString video;
    bool quiet = false;
    QString title; // names the run in the plot
};

// Example or configuration file first, then the options. Values are bounded
// and rounded as the desktop program's spin boxes do; every value that had to
// change is described in *notes. Returns false with a one-line *error.
bool resolveJob(const RenderOptions &options, RenderJob *job, QStringList *notes, QString *error);

// Runs the job: checks the images and the output folder (bad input returns
// kExitBadInput before anything is created), steps, writes. Progress goes to
// `progress` (stderr in the program), the final summary to `summary`.
int runJob(const RenderJob &job, FILE *progress, FILE *summary);

// Ctrl-C: the first SIGINT asks the run to stop after the step under way; a
// second one ends the program at once.
void installInterruptHandler();
void requestInterrupt();
bool interruptRequested();

// The program's entry, minus the application object.
int renderMain(const QStringList &arguments);

} // namespace velloran
