#pragma once

// Command line of velloran-render.

#include "configfile.h"
#include "framename.h"
#include "parameters.h"
#include "smokecolour.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace velloran {

struct RenderOptions {
    bool help = false;
    bool version = false;
    bool listExamples = false;
    bool quiet = false;

    QString configPath; // positional CONFIG.xml
    QString example;
    std::optional<QString> source;
    std::optional<QString> target;
    bool reverse = false;
    std::array<std::optional<double>, kParameterCount> values; // finite, not yet clamped
    std::optional<Scheme> scheme;
    std::vector<KeyframeEntry> keyframes; // from --keyframe, in the order given

    std::optional<int> steps;
    std::optional<int> every;
    QString outDir;
    bool png = true;
    bool npy = false;
    bool exr = false;
    bool vdb = false;
    bool vdbFloat = false; // density in full floats in the .vdb frames
    QString vdbVelocityName = QStringLiteral("velocity");
    bool alpha = false; // RGBA PNG frames instead of grey ones
    SmokeColour colour;
    FrameNamePattern names;
    QString video;

    std::optional<int> checkpointEvery;
    QString resumeDir; // continue the run in this folder from its checkpoint

    QString sweepPath;             // --sweep FILE: a run of a sweep file, or its summary
    std::optional<int> sweepIndex; // --index K
    bool summary = false;          // --summary

    // Every option given, by its name ("--vf"; "CONFIG.xml" for the file), in
    // order: a resumed run refuses those that would change it.
    QStringList given;
};

// "STEP:IMAGE" or "STEP:IMAGE:BLEND" (a blend is recognised only as a whole
// number after the last colon, so an image path may contain colons).
bool parseKeyframeOption(const QString &text, KeyframeEntry *out, QString *error);

// Options that may accompany --resume: they change neither the run nor what it
// writes.
bool allowedWithResume(const QString &option);

// Options that may accompany --sweep (the sweep file says everything else).
bool allowedWithSweep(const QString &option);

// Parses argv without the program name. On error returns false with a
// one-line message in *error.
bool parseRenderOptions(const QStringList &arguments, RenderOptions *options, QString *error);

// The --help text.
QString renderUsage();

} // namespace velloran
