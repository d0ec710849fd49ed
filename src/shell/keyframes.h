#pragma once

// Keyframe images to target densities: what a configuration's <keyframes>
// list becomes before a run can switch targets.

#include "configfile.h"

#include "targetschedule.h"

#include <QImage>
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

// Loads a keyframe's image, of the first target image's size. On a refusal
// returns a null image with the one-sentence *error loadKeyframeTargets gives.
QImage loadKeyframeImage(const KeyframeEntry &entry, QSize targetSize, QString *error,
                         const std::function<QString(const QString &)> &resolve = {});

// A run of fields given one by one gives every field a target at each keyframe
// step, all with the step's one blend (`fieldColours` in the run's field
// order); any other run names no field in its keyframes. The refusal for the
// first entry that breaks this, or empty. Entries in step order.
QString keyframeFieldsRefusal(const std::vector<KeyframeEntry> &entries,
                              const std::vector<SmokeColour> &fieldColours);

// Entries that keyframeFieldsRefusal accepts, split by field in the run's
// field order, each list in step order.
std::vector<std::vector<KeyframeEntry>>
keyframesByField(const std::vector<KeyframeEntry> &entries,
                 const std::vector<SmokeColour> &fieldColours);

// A run with keyframes runs forwards only: reversed, the sequence of targets
// would have no source to start from and no end to run back from.
QString keyframesInReverseMessage();

} // namespace velloran
