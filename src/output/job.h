#pragma once

// What a render does: its inputs, parameters and keyframes, how long it runs
// and what it writes. The renderer resolves it from the command line; a
// checkpoint records it, so a resumed run continues the same job.

#include "configfile.h"
#include "frameformats.h"
#include "framename.h"
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
    QStringList formats = {QStringLiteral("png")}; // frameformats.h, in its order
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

// What the job's frame writers take from it.
inline FrameSettings frameSettings(const RenderJob &job) {
    return {job.names, job.colour, job.alpha, VdbSettings{job.vdbFloat, job.vdbVelocityName}};
}

} // namespace velloran
