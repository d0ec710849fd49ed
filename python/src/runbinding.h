#pragma once

// The Python class velloran.Run (with the ParameterWarning its making may
// give): how a run is made, saved, stepped, measured and read.

#include <pybind11/pybind11.h>

namespace velloran::binding {

void bindRun(pybind11::module_ &module);

} // namespace velloran::binding
