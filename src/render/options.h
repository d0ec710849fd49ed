#pragma once

// Command line of velloran-render. Each option is one entry of the option
// table (optiontable.h): its name, its value, its --help lines and how it is
// checked and stored. What the options say about the run is a set of
// overrides (JobOverrides), applied to a job by applyOverrides (renderjob.h).

#include "configfile.h"
#include "framename.h"
#include "job.h"
#include "parameters.h"
#include "smokecolour.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace velloran {

// What the options change in a job. Whatever is unset leaves the job's value:
// the default, the example's or configuration file's, or the checkpoint's.
struct JobOverrides {
    std::optional<QString> source;
    std::optional<QString> target;
    std::optional<bool> reverse;
    std::array<std::optional<double>, kParameterCount> values; // finite, not yet clamped
    std::optional<Scheme> scheme;
    std::vector<KeyframeEntry> keyframes; // added to the job's, in the order given
    std::optional<QString> obstacles;

    std::optional<int> steps;
    std::optional<int> every;
    std::optional<QString> outDir;
    std::optional<QStringList> formats; // frameformats.h, in its order; empty: none
    std::optional<bool> vdbFloat;
    std::optional<QString> vdbVelocityName;
    std::optional<bool> alpha;
    std::optional<SmokeColour> colour;
    std::vector<ColourField> fields; // --field, in the order given
    std::optional<PaletteRequest> palette;
    std::optional<ColourMode> colourMode;
    std::optional<FrameNamePattern> names;
    std::optional<QString> video;
    std::optional<int> checkpointEvery;
    std::optional<bool> quiet;
};

struct RenderOptions {
    bool help = false;
    bool version = false;
    bool listExamples = false;

    QString configPath; // positional CONFIG.xml
    QString example;
    QString resumeDir; // continue the run in this folder from its checkpoint

    QString sweepPath;             // --sweep FILE: a run of a sweep file, or its summary
    std::optional<int> sweepIndex; // --index K
    bool summary = false;          // --summary

    JobOverrides job;

    // Every option given, by its name ("--vf"; "a configuration file" for the
    // file), in order: a resumed run refuses those that would change it.
    QStringList given;
};

// Parses argv without the program name. On error returns false with a
// one-line message in *error.
bool parseRenderOptions(const QStringList &arguments, RenderOptions *options, QString *error);

// The --help text.
QString renderUsage();

} // namespace velloran
