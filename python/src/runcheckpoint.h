#pragma once

// Checkpoints of a module run, in the renderer's checkpoint file format
// (versioned, checksummed, written whole or not at all). A run made from
// arrays has no image files to find again, so besides the solver's state
// the file carries the run's own targets as grids: "first target" and
// "keyframe target K" (K = 1 ...), each N x N; a colour run's further fields
// add "first target.F" (F = 1 ...), and its keyframe targets come one per
// field at each keyframe step, in field order. Checkpoints the renderer
// writes lack those and are refused; velloran-render --resume continues them.

#include "pythonrun.h"

#include <memory>
#include <optional>
#include <string>

namespace velloran::binding {

// Throws FileError when the file cannot be written, UsageError when the run
// is busy or has more steps than the format records.
void saveRunCheckpoint(const PythonRun &run, const std::string &path);

// Throws FileError when the file cannot be read, InputError when it is not a
// usable checkpoint of a module run.
std::unique_ptr<PythonRun> loadRunCheckpoint(const std::string &path, std::optional<int> threads);

} // namespace velloran::binding
