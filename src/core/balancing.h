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
// phi is smooth (it is the Laplacian's inverse of the misfit) and the flow
// only has to carry smoke between parts of the target; detail within a part
// is the gathering's. So phi is solved on a coarse grid of blocks about 1/64
// of the domain wide (whole cells at 64 x 64 and below, 2 x 2 at 128, 4 x 4 at
// 256): the misfit summed over each block, the coarse face speeds taken on
// the fine faces that lie on block edges and interpolated linearly between
// them inside a block. A full-size solve cost as much as the projection's.
//
// kappa = vg kBalancingRate: no balancing without gathering. With the flow
// frozen for a step, a cell whose own excess drives it changes by
// -dt kappa rho (rho - rho*); kappa is held where dt kappa rho_max would
// exceed 1, so that no cell is carried past its target within one step.

#include <cstdint>

namespace velloran {

// Side in cells of the blocks the balancing potential is solved on: the
// largest divisor of n not above n / 64, so that the blocks tile the grid
// evenly and a mirrored state gives a mirrored flow (a side with no such
// divisor, a prime, solves on whole cells).
inline std::uint32_t balancingBlock(std::uint32_t n) {
    for (std::uint32_t block = n / 64; block > 1; --block) {
        if (n % block == 0) {
            return block;
        }
    }
    return 1;
}

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
