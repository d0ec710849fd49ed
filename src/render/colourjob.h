#pragma once

// What a colour run (fields given one by one, or a colour target split by a
// palette, from the options or the configuration file) can and cannot do, and
// how a palette's colours become the job's fields.

#include "job.h"
#include "options.h"

#include <QString>

namespace velloran {

bool isColourJob(const RenderJob &job);

// Once the job is resolved: what is asked of a colour run that it cannot do
// yet, or a colour mode without one. False with a one-line message.
bool checkColourJob(const RenderOptions &options, const RenderJob &job, QString *error);

// A palette run once its palette is found: one field per colour, each named
// by it, all read from the job's source and target.
RenderJob withPaletteFields(const RenderJob &job, const std::vector<SmokeColour> &colours);

} // namespace velloran
