#pragma once

// SimFrame: what the window shows of one step of a run.

#include "grid.h"

#include <cstdint>
#include <limits>
#include <vector>

struct SimFrame {
    Grid density{1, 1}; // smoke density, with the solver's one-cell frame
    Grid u{1, 1};       // x-velocity at the cell centres
    Grid v{1, 1};       // y-velocity at the cell centres
    // A colour run's further smoke fields (density is the first); empty in a
    // grey run.
    std::vector<Grid> fields;
    std::int64_t step = 0;                                      // steps done when it was taken
    double distance = std::numeric_limits<double>::quiet_NaN(); // to the active target
    int target = 0;  // index of the active target, 0 for the first
    int targets = 1; // how many targets the run has
};
