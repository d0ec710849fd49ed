#pragma once

// Pictures of a density written as the renderer writes its frames.

#include "grid.h"

#include <string>

namespace velloran::binding {

// Writes the interior of a framed grid (any rows x columns) as an 8-bit grey
// PNG, upright, values clamped to [0, 1], through a temporary file that
// replaces `path` only when complete. Throws FileError on failure.
void writeDensityPng(const std::string &path, const Grid &framed);

} // namespace velloran::binding
