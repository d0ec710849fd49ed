#pragma once

// What a run is measured by, as files and pictures: the rows of metrics.csv,
// the convergence plot, the grey frame.

#include "grid.h"
#include "metricshistory.h"
#include "stepmetrics.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace velloran {

// "step,distance,mass,max_speed,seconds,substeps,target,advected,gathered",
// then "distance.<name>" for each field of a run of several smoke fields, then
// "colour_error" in a colour run. A row has the last column when its metrics
// carry a colour error.
QString metricsCsvHeader(const QStringList &fieldNames = {}, bool colourError = false);
QString metricsCsvLine(const StepMetrics &metrics);
// The same row appended to `row` (a run's file, one row after another).
void appendMetricsCsvLine(const StepMetrics &metrics, QByteArray *row);

// A plot of the distance against the step, with labelled axes and a dashed
// vertical line at each keyframe step (the active target changes after it).
// Non-finite points are left out. Needs a QGuiApplication (fonts).
QImage convergencePlot(const std::vector<StepMetrics> &history, const QString &title,
                       const std::vector<std::int64_t> &keyframeSteps = {});

// The interior of a framed density grid (N x N for a run; any rows x columns)
// as an 8-bit grey picture, upright: value clamp(rho, 0, 1) * 255 rounded;
// image row y shows grid row rows - y.
QImage densityImage(const Grid &density);

} // namespace velloran
