#pragma once

// A run's smoke fields as the writers, pictures and measures take them.

#include "grid.h"

#include <vector>

class Solver;

namespace velloran {

enum class FieldGrid { Density, Target };

// Every smoke field's density (or target), in field order: the solver's own
// density first. Fills *grids in place, so a list kept from step to step
// allocates only the first time.
void collectFieldGrids(const Solver &solver, FieldGrid which, std::vector<const Grid *> *grids);
std::vector<const Grid *> fieldDensities(const Solver &solver);

// The smoke a field's density (or target) holds: its interior summed as the
// solver sums it, columns outer, rows inner.
double fieldMass(const Grid &density);

} // namespace velloran
