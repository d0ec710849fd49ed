#pragma once

// The worker's per-step copy of the state it shows, fused with the check that
// the state is still finite: the copy reads every value anyway, so the check
// costs a few vector operations per value instead of a second pass.

#include "grid.h"

// Copies `from` into `to` (taking over its shape) and returns whether every
// value is finite (no infinity, no NaN).
bool copyCheckingFinite(const Grid &from, Grid &to);
