#pragma once

// Which discretisation a run steps with.
//
//   Literal  the scheme as first built: limited-flux transport of the cells
//            2..N-1, velocity carried along its own axis only, 20 Gauss-Seidel
//            sweeps from zero, gathering as a source term. Kept bit for bit.
//   Sound    the same attenuation and blur, the driving field floored far from
//            the target; a balancing force that makes the fluid carry smoke
//            from excess to deficit (balancing.h); transport in flux form over
//            every cell with closed walls, a solved Neumann projection, gathering as
//            the divergence of a donor-cell flux, and sub-cycles that keep
//            every transport stage within its stability limit.
//
// docs/method.md describes both side by side.

#include <string>

namespace velloran {

enum class Scheme : int { Literal = 0, Sound = 1 };

// A transport stage that would need more sub-cycles than this within one step
// ends the run as unstable (Solver::hitSubcycleCap).
constexpr int kMaxSubcycles = 4096;

// "literal" or "sound": the words of configuration files and options.
const char *schemeName(Scheme scheme);

// Reads exactly "literal" or "sound"; anything else returns false and leaves
// *out alone.
bool parseScheme(const std::string &word, Scheme *out);

// How the sound scheme steps its gathering through one time step.
//   Implicit  linearised backward Euler of the donor-cell flux, split into x and
//             y lines, each line solved exactly (tridiagonal); cells that the
//             linear step would empty beyond their smoke have their outflows
//             scaled to what they hold. One solve per line whatever dt.
//   Explicit  the donor-cell flux in forward Euler sub-steps short enough to
//             keep every cell non-negative and the update monotone; the number
//             of sub-steps grows like vg dt / h^2.
enum class Gathering : int { Implicit = 0, Explicit = 1 };

// Sub-cycles of one step: velocity advection, density advection, the
// balancing force (sound scheme, balancing.h: one solve, no sub-cycles) and
// gathering. A literal step is one of each of velocity, density and gathering.
struct SubstepCounts {
    int velocity = 1;
    int density = 1;
    int balancing = 0; // 1 when the balancing force acted (sound, vf > 0), else 0
    int gathering = 1; // an implicit gathering counts as one

    int total() const { return velocity + density + balancing + gathering; }
};

// How much smoke the last step moved, and by what: the sum over the interior
// cells of |change of rho| made by the density's transport with the fluid's
// own velocity (advected), and by everything else (gathered: the gathering,
// and any transport that is not the fluid's). Their ratio is what tells a run
// that flows into its target from one that develops it in place.
struct TransportAmounts {
    double advected = 0.0;
    double gathered = 0.0;
};

} // namespace velloran
