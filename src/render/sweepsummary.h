#pragma once

// The end of a sweep: OUT/sweep.csv, one row per run (its parameters, how it
// ended, best and last distance to the target, the share of the smoke's
// change the flow carried when the metrics have it, speed and wall time), and
// OUT/sweep.png, the runs' final frames side by side, each labelled with its
// parameters: one row per value of the sweep's other axes, one column per
// value of its last axis.

#include "sweepfile.h"

#include <QImage>
#include <QString>

#include <vector>

namespace velloran {

// What one run's folder says about it.
struct SweepRunSummary {
    QString status = QStringLiteral("not run"); // ok, unstable, bad input, interrupted, ...
    QString error;
    QString bestDistance; // as metrics.csv has it
    int bestStep = -1;
    QString lastDistance;
    int lastStep = -1;
    double flowShare = -1.0; // sum advected / (sum advected + sum gathered); < 0: unknown
    double stepsPerSecond = -1.0;
    double wallSeconds = -1.0;
};

SweepRunSummary summariseSweepRun(const QString &folder);

// "index,name,AXES...,status,best_distance,best_step,last_distance,last_step,
// flow_share,steps_per_second,wall_seconds,error"
QString sweepTable(const std::vector<SweepRun> &runs,
                   const std::vector<SweepRunSummary> &summaries);

// The contact sheet (needs a QGuiApplication: fonts).
QImage sweepContactSheet(const std::vector<SweepRun> &runs,
                         const std::vector<SweepRunSummary> &summaries, const QString &root);

// Writes both into `root`; returns the program's exit status.
int writeSweepSummary(const std::vector<SweepRun> &runs, const QString &root);

} // namespace velloran
