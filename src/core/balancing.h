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
// 2 x 2 at 128, 4 x 4 at 256): the misfit summed over each block, phi taken at
// the block centres and interpolated bilinearly onto the cells, the force on
// a face from the difference of its two cells. A full-size solve cost as much
// as the projection's. (An earlier version interpolated the block-edge
// differences along the face's normal only: the force across a line of
// blocks then jumped from block to block, and with a strong force the jumps
// drew stripes two cells apart through the smoke.)

#include <cmath>
#include <cstddef>
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

// Where cell a (1-based, along a line of n cells) lies between the block
// centres: the block below it and the fraction of the way to the next one;
// cells beyond the first or last centre take that block's value (fraction 0).
struct BlockSpot {
    std::uint32_t block = 0;
    double fraction = 0.0;
};

inline BlockSpot balancingSpot(std::uint32_t a, std::uint32_t block, std::uint32_t side) {
    const double t = (static_cast<double>(a - 1) - 0.5 * static_cast<double>(block - 1)) /
                     static_cast<double>(block);
    if (!(t > 0.0)) {
        return {};
    }
    if (t >= static_cast<double>(side - 1)) {
        return {side - 1, 0.0};
    }
    const double below = std::floor(t);
    return {static_cast<std::uint32_t>(below), t - below};
}

// phi (per block, row by row, `side` to a row) interpolated at a cell: first
// along x on the two block rows, then between them along y.
inline double balancingPhiAt(const double *phi, std::uint32_t side, BlockSpot x, BlockSpot y) {
    const auto alongX = [&](std::uint32_t by) {
        const double *row = phi + static_cast<std::size_t>(by) * side;
        const double low = row[x.block];
        return x.fraction == 0.0 ? low : low + (row[x.block + 1] - low) * x.fraction;
    };
    const double low = alongX(y.block);
    return y.fraction == 0.0 ? low : low + (alongX(y.block + 1) - low) * y.fraction;
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
