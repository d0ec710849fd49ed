#pragma once

// Which discretisation a run steps with.
//
//   Literal  the scheme as first built: limited-flux transport of the cells
//            2..N-1, velocity carried along its own axis only, 20 Gauss-Seidel
//            sweeps from zero, gathering as a source term. Kept bit for bit.
//   Sound    the same force, attenuation and blur; transport in flux form over
//            every cell with closed walls, a solved Neumann projection,
//            gathering as the divergence of a donor-cell flux, and sub-cycles
//            that keep every transport stage within its stability limit.
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

// Sub-cycles of one step: velocity advection, density advection and gathering.
// A literal step is one of each.
struct SubstepCounts {
    int velocity = 1;
    int density = 1;
    int gathering = 1;

    int total() const { return velocity + density + gathering; }
};

} // namespace velloran
