#pragma once

// What a render does: its inputs, parameters and keyframes, how long it runs
// and what it writes. The renderer resolves it from the command line; a
// checkpoint records it, so a resumed run continues the same job.

#include "colourpicture.h"
#include "colourrun.h"
#include "configfile.h"
#include "frameformats.h"
#include "framename.h"
#include "palette.h"
#include "parameters.h"
#include "smokecolour.h"

#include "scheme.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace velloran {

struct RenderJob {
    QString sourcePath;
    QString targetPath;
    bool reverse = false;
    SimParameters parameters;
    Scheme scheme = Scheme::Literal;
    std::vector<KeyframeEntry> keyframes; // steps strictly increasing
    QString obstaclesPath;                // the obstacle image; empty: none
    int steps = 1000;
    int every = 10;
    QString outDir = QStringLiteral("render-out");
    QStringList formats = {QStringLiteral("png")}; // frameformats.h, in its order
    bool vdbFloat = false;
    QString vdbVelocityName = QStringLiteral("velocity");
    bool alpha = false; // RGBA PNG frames
    SmokeColour colour;
    // A colour run: 2..8 fields in place of the source and target, and how
    // their picture is drawn. Empty: the grey run.
    std::vector<ColourField> fields;
    // A colour run from the source and a colour target split by a palette
    // (colourfields.h); the runner fills `fields` with its colours.
    std::optional<PaletteRequest> palette;
    ColourMode colourMode = ColourMode::Light;
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
    FrameSettings settings{job.names, job.colour, job.alpha,
                           VdbSettings{job.vdbFloat, job.vdbVelocityName, {}}, std::nullopt};
    if (!job.fields.empty()) {
        ColourPicture picture;
        for (const ColourField &field : job.fields) {
            picture.colours.push_back(field.colour);
        }
        picture.mode = job.colourMode;
        settings.picture = picture;
    }
    settings.obstacles = !job.obstaclesPath.isEmpty();
    return settings;
}

} // namespace velloran
