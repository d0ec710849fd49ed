#pragma once

// Which discretisation a run steps with.
//
//   Literal  the scheme as first built: limited-flux transport of the cells
//            2..N-1, velocity carried along its own axis only, 20 Gauss-Seidel
//            sweeps from zero, gathering as a source term. Kept bit for bit.
//   Sound    the same force, attenuation and blur; transport in flux form over
//            every cell with closed walls, a solved Neumann projection, a
//            balancing flow from excess to deficit (balancing.h), gathering as
//            the divergence of a donor-cell flux, and sub-cycles that keep
//            every transport stage within its stability limit.
//
// docs/method.md describes both side by side.

#include <string>

namespace velloran {

enum class Scheme : int { Literal = 0, Sound = 1 };

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
// balancing flow (sound scheme, balancing.h) and gathering. A literal step is
// one of each of velocity, density and gathering.
struct SubstepCounts {
    int velocity = 1;
    int density = 1;
    int balancing = 0; // 0 when there is no balancing (literal, vg = 0)
    int gathering = 1; // an implicit gathering counts as one

    int total() const { return velocity + density + balancing + gathering; }
};

} // namespace velloran
