#pragma once

// The picture of the target a run will chase, for the Images panel: read from
// the same files, by the same rules, as Start reads them, but quietly (a
// problem becomes a few words, never a message box) and without building a
// solver.
//
// A grey run: the target's blue channel over the source's grid, drawn grey as
// the view draws density. A colour run: each field's target (split by the
// palette, or named field by field) composed in the run's mode by the same
// picture code as the view's frames. Either way the target is what the solver
// makes of it before the first step: cleared in solid cells when obstacles
// are given, and scaled down to the smoke's mass when it is the heavier (so a
// target brighter than its source previews as dim as it will form). Without a
// usable source a grey target is shown whole as read, unscaled.

#include "colourrun.h"

#include <QImage>
#include <QString>

#include <optional>

struct TargetPreview {
    QImage picture;  // one pixel a cell, upright; null when there is nothing to show
    QString problem; // why there is no picture (a short phrase), or empty
    QString details; // the full message and the file concerned
};

// `obstacles` empty: none (the window passes none for a literal run, which
// cannot have them). An obstacle image that cannot be read leaves the
// target whole (Start says what is wrong with it).
TargetPreview previewTarget(const QString &source, const QString &target, const QString &obstacles,
                            const std::optional<velloran::ColourConfiguration> &colour);
