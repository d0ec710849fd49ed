#pragma once

// The solver grids that carry a run from one step to the next, by name, for
// checkpoints. Scratch grids and the centred velocities are rewritten from
// these by every step, so they are left out.

#include "checkpointfile.h"

#include "solver.h"

#include <QString>

#include <vector>

namespace velloran {

// Copies of the state grids.
std::vector<CheckpointGrid> captureSolverState(const Solver &solver);

// Overwrites the solver's state grids with those of a checkpoint. The solver
// must have been built and configured for the same run. False, with *error,
// when a grid is missing or has another shape; the solver is then unchanged.
bool restoreSolverState(const std::vector<CheckpointGrid> &grids, Solver &solver, QString *error);

} // namespace velloran
