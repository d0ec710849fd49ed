#pragma once

// The sound scheme's balancing force: the fluid pushed to carry smoke from
// where there is more of it than the target asks for to where there is less,
// however far apart.
//
// The driving force acts within a blur width or two of the target, so smoke
// far from it (a source in the opposite corner) feels nothing, and a target
// made of separate parts (two blobs, the letters of a word) keeps the share of
// smoke that the first swirls happened to bring to each part. The potential
//
//     laplacian(phi) = rho - rho*        (no flux through the walls)
//
// is low where smoke is in excess and high where it is short; grad(phi)
// points from every excess towards every deficit in the domain. The force
//
//     f = vf kBalancingForce blurred(rho) grad(phi)
//
// is added to the velocity before the projection. Weighted by the smoke it is
// no gradient, so the projection keeps the part of it that moves the smoke
// (and sends the clear air back around it); the smoke itself is moved only by
// the fluid's advection, never faster than the flow. (An earlier version
// moved the smoke directly with speeds kappa grad(phi): the target then
// appeared in place, as if developed, while the fluid stood almost still.)
//
// phi is smooth (it is the Laplacian's inverse of the misfit) and only has to
// steer smoke between parts of the target; detail within a part is the
// driving force's and the gathering's. So phi is solved on a coarse grid of
// blocks about 1/64 of the domain wide (whole cells at 64 x 64 and below,
// 2 x 2 at 128, 4 x 4 at 256): the misfit summed over each block, the coarse
// face values taken on the fine faces that lie on block edges and interpolated
// linearly between them inside a block. A full-size solve cost as much as the
// projection's.

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

// Balancing force per unit of vf and of grad(phi) (see docs/method.md for
// the measurements behind it).
constexpr double kBalancingForce = 10000.0;

// The force's strength for a run's vf: none without a driving force.
inline double balancingStrength(double vf) {
    return vf * kBalancingForce;
}

// What the force may add to a face's speed in one step: kPushLimit h / dt,
// half a cell per step. At the defaults it is seldom reached; with a driving
// force hundreds of times the default it keeps the push from running the flow
// past the sub-cycle cap in a few steps.
constexpr double kPushLimit = 0.5;

inline double limitedPush(double push, double limit) {
    return push > limit ? limit : (push < -limit ? -limit : push);
}

// The force's weight on a face whose mean blurred density is m: m / (m + c).
// Proportional to the smoke where it is thin, so clear air is not pushed, but
// saturating where it is dense: thin strands left behind on the way still
// feel most of the force, and dense smoke is not driven harder than the
// projection and the attenuation can follow.
constexpr double kBalancingSaturation = 0.05;

inline double balancingWeight(double meanBlurred) {
    return meanBlurred / (meanBlurred + kBalancingSaturation);
}

// The sound scheme's driving field divides the difference of the blurred
// target by its face mean plus this share of the blurred target's peak. Far
// from the target grad(blurred)/blurred grows without bound (the log of a
// Gaussian tail is a parabola), so every part of a target holds the smoke in
// its basin whatever the balancing force says, and smoke that reached the
// wrong letter stays there; with the floor the field fades in the gaps and
// the balancing force carries the smoke across them. Near the target, where
// the blurred target is well above 1 % of its peak, the field is the
// literal one.
constexpr double kDriveFloor = 0.01;

} // namespace velloran
