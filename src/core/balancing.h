#pragma once

// The sound scheme's balancing flow: smoke carried from where there is more
// of it than the target asks for to where there is less, however far apart.
//
// Gathering and the driving force act within a blur width or two of the
// target, so a target made of separate parts (two blobs, the letters of a
// word) keeps the share of smoke that the first swirls happened to bring to
// each part: an S over two blobs stays at distance 0.39 for 16000 steps at
// 128 x 128. The balancing flow is the gradient of the potential phi with
//
//     laplacian(phi) = rho - rho*        (no flux through the walls),
//
// and smoke moves with the speed kappa grad(phi) (donor cell, so mass is
// conserved to rounding and no cell goes negative). phi is low where smoke is
// in excess, so the flow leaves the excess and reaches every deficit in the
// domain; the misfit integral of |grad phi|^2 only ever falls under it (its
// rate of change is -kappa times the integral of rho |grad phi|^2). It is
// a pure gradient, so it moves smoke, never the velocity: the projection
// would remove it from the flow.
//
// kappa = vg kBalancingRate: no balancing without gathering. With the flow
// frozen for a step, a cell whose own excess drives it changes by
// -dt kappa rho (rho - rho*); kappa is held where dt kappa rho_max would
// exceed 1, so that no cell is carried past its target within one step.

namespace velloran {

// Balancing speed per unit of vg and of grad(phi). Measured at 128 x 128,
// 2000 steps, S into two blobs: 0.396 without, 0.187 at 10, 0.059 at 50,
// 0.019 at 200; disc into the word SMOKE 0.173, 0.102, 0.065, 0.028.
constexpr double kBalancingRate = 200.0;

// kappa for a step of dt whose densest cell holds `densest`.
inline double balancingRate(double vg, double dt, double densest) {
    const double kappa = vg * kBalancingRate;
    if (kappa * dt * densest > 1.0) {
        return 1.0 / (dt * densest);
    }
    return kappa;
}

} // namespace velloran
