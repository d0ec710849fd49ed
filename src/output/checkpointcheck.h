#pragma once

// A checkpoint is input like the command line and the configuration file: a
// file that reads back whole may still have been forged or written by a
// damaged program. Before a resumed run uses it, every value that decides
// the run is held to the bounds the options and the configuration file are
// held to.

#include "checkpointfile.h"

#include <QString>

namespace velloran {

// True when every value of the checkpoint is one a render could have
// written; otherwise false with *detail saying which value and why, e.g.
// "its sigma 0 is not a value the run can take (0.1 .. 10, 1 decimal)".
bool checkCheckpointValues(const Checkpoint &checkpoint, QString *detail);

} // namespace velloran
