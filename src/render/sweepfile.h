#pragma once

// A sweep file (what velloran.sweep.write makes): the runs of a wedge, each a
// set of renderer options with a name and an index, so that a farm can run
// run K without Python:
//
//   {"velloran_sweep": 1,
//    "runs": [{"index": 0, "name": "vf=1_vg=0.03", "axes": ["vf", "vg"],
//              "config": "examples/blob-to-s.xml", "vf": 1, "vg": 0.03,
//              "steps": 500}, ...]}
//
// Option keys are the renderer's long options with '_' for '-': config (the
// positional file), example, source, target, reverse, scheme, keyframes (a
// list of "STEP:IMAGE[:BLEND]" or [step, image, blend]), vf, vd, vg, sigma,
// dt, steps, every, format (text or a list), alpha, smoke_colour, frame_name
// (--name), checkpoint_every, and for colour runs field (a list of
// "COLOUR:SOURCE:TARGET" or [colour, source, target]), palette ("auto", a
// count or "#e03020,#20a0e0") and colour_mode; a field's keyframe is
// "#RRGGBB:STEP:IMAGE[:BLEND]" or [colour, step, image, blend]. Paths are
// taken as on the command line, relative to the folder the renderer is
// started in.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <vector>

namespace velloran {

struct SweepRun {
    int index = 0;
    QString name;     // the run's folder under the sweep's output folder
    QStringList axes; // the option keys the sweep varies, in order
    QJsonObject options;
};

// Reads and checks the whole file: runs numbered 0, 1, ... in order, names
// unique and usable as folder names, option keys known. False with a
// one-line *error otherwise.
bool loadSweep(const QString &path, std::vector<SweepRun> *runs, QString *error);

// The command-line arguments that give the run's render (without --out).
bool sweepRunArguments(const SweepRun &run, QStringList *arguments, QString *error);

// A value as the sweep's table and contact sheet show it: numbers in their
// shortest exact form (0.03, 2), text as is, lists joined by '+'.
QString sweepValueText(const QJsonValue &value);

} // namespace velloran
