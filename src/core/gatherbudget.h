#pragma once

// The sound scheme's gathering is paid for by the fluid. Every step the
// advection by the projected flow moves A = sum |change of rho|; a field earns
// kGatherBudget * A of credit for its gathering, and each step's gathering may
// spend at most
//
//     kGatherPerStep * A + spend * credit      (and never more than the credit)
//
// with spend = kCreditSpendRate * dt per step. What the gathering would have
// done beyond that is scaled back: rho = (1 - s) rho_before + s rho_gathered,
// s = allowance / G, which keeps the mass to rounding and the density
// non-negative. So over every stretch of a run from its start the gathering
// moves at most kGatherBudget times what the flow moved: while the flow
// carries the smoke the gathering only sharpens alongside (about a tenth of
// the flow's transport), and the credit saved then lets it crisp the shape
// once the flow has brought the smoke. A new target clears the credit, so a
// keyframe's shape is carried by the flow too, not developed in place.

#include "grid.h"

namespace velloran {

class Stepping;

constexpr double kGatherBudget = 1.0;
constexpr double kGatherPerStep = 0.1;
constexpr double kCreditSpendRate = 1.5; // per unit of time

// What a step's gathering may move, given the credit (already including this
// step's earning) and what the advection moved.
double gatheringAllowance(double credit, double advected, double dt);

// rho = (1 - s) before + s rho over the interior.
void scaleChangeBack(Stepping &stepping, Grid &rho, const Grid &before, double s);

} // namespace velloran
