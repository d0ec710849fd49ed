#pragma once

// Command line of velloran-render.

#include "parameters.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

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

    std::optional<int> steps;
    std::optional<int> every;
    QString outDir;
    bool png = true;
    bool npy = false;
    QString video;
};

// Parses argv without the program name. On error returns false with a
// one-line message in *error.
bool parseRenderOptions(const QStringList &arguments, RenderOptions *options, QString *error);

// The --help text.
QString renderUsage();

} // namespace velloran
