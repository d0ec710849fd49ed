#pragma once

// What a render does, resolved from an example or configuration file and the
// command-line options before anything is checked or written.

#include "options.h"
#include "parameters.h"

#include <QString>
#include <QStringList>

namespace velloran {

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

} // namespace velloran
