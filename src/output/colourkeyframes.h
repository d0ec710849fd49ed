#pragma once

// A colour run's keyframes made into one target schedule per field: a palette
// run reads each keyframe image with the palette its first target gave (the
// palette is not looked for again, so field k keeps its colour from target to
// target); a run of fields given one by one reads each field's keyframe images
// as a grey run reads its own.

#include "configfile.h"
#include "palette.h"
#include "runsetup.h"

#include "targetschedule.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace velloran {

// `fields` are the run's fields as set up (their targets are each schedule's
// first); `palette` is the palette run's, or null for fields given one by one
// (then `colours` are theirs, in order). Every keyframe image must have the
// size of the first target image and smoke of every field it feeds: an image
// lacking one of the palette's colours is refused, since that field would
// have nothing to gather into. On success *schedules holds one schedule per
// field; otherwise false with a one-sentence *error and *schedules untouched.
bool loadColourSchedules(const std::vector<KeyframeEntry> &entries,
                         const std::vector<RunDensities> &fields, const Palette *palette,
                         const std::vector<SmokeColour> &colours,
                         std::vector<std::unique_ptr<TargetSchedule>> *schedules, QString *error,
                         const std::function<QString(const QString &)> &resolve = {});

} // namespace velloran
