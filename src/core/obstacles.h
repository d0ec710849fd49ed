#pragma once

// Obstacles: solid cells the smoke flows around (Solver::setObstacles). A
// cell is solid where the N x N obstacle grid holds more than one half.
//
// A run with obstacles must be able to form its target: checkObstacles says,
// before a solver is built, why it could not. Smoke cannot pass from one open
// region to another (regions joined only through solid cells are apart), so
// every region that holds part of a target needs smoke of the same field, and
// smoke in a region without any target would stay there for good. Source
// smoke inside solid cells is not a problem: the solver moves it into the
// nearest open cell.

#include "grid.h"
#include "solver.h"

#include <vector>

namespace velloran {

enum class ObstacleProblem {
    None,
    TargetInsideObstacles, // a field's target lies wholly inside solid cells
    UnreachableTarget,     // an open region holds target but no smoke of its field
    StrandedSmoke,         // an open region holds smoke but no target of its field
};

// The first problem found, field by field in order; None when the run can be
// built. smoke as for the Solver, solid N x N like its grids.
ObstacleProblem checkObstacles(const std::vector<SmokeInput> &smoke, const Grid &solid);

// The message for a problem, for people to read ("" for None).
const char *obstacleMessage(ObstacleProblem problem);

} // namespace velloran
