#pragma once

// A render's job (job.h), resolved from an example or configuration file and
// the command-line options before anything is checked or written.

#include "job.h"
#include "options.h"

#include <QString>
#include <QStringList>

namespace velloran {

// "parameters: vf=2 vd=30 vg=0.15 sigma=1 dt=0.001", followed for a sound run
// by "(sound scheme defaults for vg, dt)" naming the defaulted ones.
QString parametersLine(const RenderJob &job);

// Sets whatever the overrides give: parameters bounded and rounded as the
// desktop program's spin boxes do (every value that had to change described
// in *notes), keyframes added to the job's in step order. Returns false with
// a one-line *error when two keyframes fall on one step.
bool applyOverrides(const JobOverrides &overrides, RenderJob *job, QStringList *notes,
                    QString *error);

// Example or configuration file first, then the options. Values are bounded
// and rounded as the desktop program's spin boxes do; every value that had to
// change is described in *notes. Returns false with a one-line *error.
bool resolveJob(const RenderOptions &options, RenderJob *job, QStringList *notes, QString *error);

} // namespace velloran
