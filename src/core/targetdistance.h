#pragma once

// How close a density is to its target: the renderer's distance,
// sum |rho - rho*| / sum rho* over the interior cells, summed in the same
// order as the renderer's metrics, so both programs print the same number.

#include "grid.h"

// `density` and `target` are cell-centred grids of the same shape with a
// one-cell frame. A target without smoke gives the plain sum |rho - rho*|.
double distanceToTarget(const Grid &density, const Grid &target);
