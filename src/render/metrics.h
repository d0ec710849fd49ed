#pragma once

// What a run is measured by, once per step.

#include "solver.h"

#include <QImage>
#include <QString>

#include <vector>

namespace velloran {

struct StepMetrics {
    int step = 0;
    double distance = 0.0; // sum |rho - rho*| / sum rho* over the interior
    double mass = 0.0;     // sum rho over the interior
    double maxSpeed = 0.0; // largest |(u, v)| at the interior cell centres
    double seconds = 0.0;  // wall time since the run started
    bool finite = true;    // density and centred velocity all finite
};

// Reads the solver's density, target (as equalised by the solver) and centred
// velocity. When the target carries no smoke the distance is the plain sum
// |rho - rho*|, which is 0 for an empty density.
StepMetrics measure(const Solver &solver, int step, double seconds);

// "step,distance,mass,max_speed,seconds"
QString metricsCsvHeader();
QString metricsCsvLine(const StepMetrics &metrics);

// A plot of the distance against the step, with labelled axes. Non-finite
// points are left out. Needs a QGuiApplication (fonts).
QImage convergencePlot(const std::vector<StepMetrics> &history, const QString &title);

// The N x N interior density as an 8-bit grey picture, upright: value
// clamp(rho, 0, 1) * 255 rounded; image row y shows grid row N - y.
QImage densityImage(const Grid &density);

} // namespace velloran
