#pragma once

// Keyframe images to target densities: what a configuration's <keyframes>
// list becomes before a run can switch targets.

#include "configfile.h"

#include "targetschedule.h"

#include <QSize>
#include <QString>

#include <functional>
#include <vector>

namespace velloran {

// Loads every keyframe's image and converts it like the first target: the
// top-left n x n pixels, flipped so that row 0 is the bottom, blue / 255.
// Every image must have the size of the first target image (`targetSize`).
// `resolve` maps a path as written to the path to open (identity when empty),
// so relative paths resolve as the run's other images do. On a refusal returns
// false with a one-sentence *error naming the keyframe, and leaves *out alone.
bool loadKeyframeTargets(const std::vector<KeyframeEntry> &entries, QSize targetSize, int n,
                         std::vector<Keyframe> *out, QString *error,
                         const std::function<QString(const QString &)> &resolve = {});

// A run with keyframes runs forwards only: reversed, the sequence of targets
// would have no source to start from and no end to run back from.
QString keyframesInReverseMessage();

} // namespace velloran
