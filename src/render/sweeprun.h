#pragma once

// velloran-render --sweep SWEEP.json: one run of a sweep file (--index K), or
// the table and contact sheet of all of them (--summary).
//
// Run K renders into OUT/NAME (OUT: --out, else the sweep file's folder) with
// checkpoints, and records how it went in OUT/NAME/run.json. Started again, it
// does nothing when the run finished (or became unstable, which would happen
// again), continues from the checkpoint when it was interrupted, and starts
// afresh otherwise; two attempts at the same run wait for each other. Runs are
// bit-identical, so whichever machine finishes a run writes the same files.

#include "options.h"

namespace velloran {

// "run.json"
QString sweepRecordName();

int sweepMain(const RenderOptions &options);

} // namespace velloran
