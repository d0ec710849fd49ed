#pragma once

// What a render does, resolved from an example or configuration file and the
// command-line options before anything is checked or written.

#include "configfile.h"
#include "framename.h"
#include "options.h"
#include "parameters.h"
#include "smokecolour.h"

#include "scheme.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace velloran {

struct RenderJob {
    QString sourcePath;
    QString targetPath;
    bool reverse = false;
    SimParameters parameters;
    Scheme scheme = Scheme::Literal;
    std::vector<KeyframeEntry> keyframes; // steps strictly increasing
    int steps = 1000;
    int every = 10;
    QString outDir = QStringLiteral("render-out");
    bool png = true;
    bool npy = false;
    bool exr = false;
    bool vdb = false;
    bool vdbFloat = false;
    QString vdbVelocityName = QStringLiteral("velocity");
    bool alpha = false; // RGBA PNG frames
    SmokeColour colour;
    FrameNamePattern names;
    QString video;
    int checkpointEvery = 0; // 0: no checkpoints
    bool quiet = false;
    QString title; // names the run in the plot
    // Keys of the parameters a sound run took from the sound scheme's
    // defaults because nothing gave them ("vg", "dt", ...).
    QStringList soundDefaults;
};

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
