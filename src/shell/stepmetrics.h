#pragma once

// What a run is measured by, once per step: the numbers of the renderer's
// metrics.csv, the window's recording and the Python module's measures.

#include <cstdint>
#include <optional>
#include <vector>

class Solver;

namespace velloran {

struct StepMetrics {
    int step = 0;
    double distance = 0.0; // sum |rho - rho*| / sum rho* over the interior
    double mass = 0.0;     // sum rho over the interior
    double maxSpeed = 0.0; // largest |(u, v)| at the interior cell centres
    double seconds = 0.0;  // wall time since the run started
    bool finite = true;    // stateFinite() of the state measured
    int substeps = 3;      // sub-cycles of the step: velocity + density + gathering
    int target = 0;        // index of the active target (0: the first)
    // Smoke the step moved: sum |change of rho| by the fluid's own transport,
    // and by everything else (gathering); 0 for step 0 (scheme.h).
    double advected = 0.0;
    double gathered = 0.0;
    // Runs of several smoke fields: each field's own distance, in field order
    // (empty for one field); distance and mass above are then over all fields,
    // sum_i sum |rho_i - rho_i*| / sum_i sum rho_i*.
    std::vector<double> fieldDistances;
    // Colour runs: the colour error of their picture (colourpicture.h); the
    // renderer fills it in.
    std::optional<double> colourError;
};

// Whether the state a run shows and goes on from is finite: every value of
// the density and of the centred velocity, frame included. The one test by
// which every driver of a run decides that it has become unstable.
bool stateFinite(const Solver &solver);

// Reads the solver's density, target (as equalised by the solver) and centred
// velocity, and the sub-cycles of its last step (0 for step 0, before any step;
// the caller fills in the active target). When the target carries no smoke the
// distance is the plain sum |rho - rho*|, which is 0 for an empty density.
StepMetrics measure(const Solver &solver, int step, double seconds);

} // namespace velloran
