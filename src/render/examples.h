#pragma once

// The bundled examples. Each is a configuration file with its two images,
// compiled in under ":/examples/" exactly as they lie in the repository's
// examples/ folder, plus a recommended length.

#include "configfile.h"

#include <QString>

#include <vector>

namespace velloran {

struct Example {
    QString name;        // also the configuration's base name: examples/<name>.xml
    QString description; // one line
    int steps;           // recommended length: near the lowest distance
    int every;           // recommended frame interval
    bool colour = false; // a colour run: the renderer's alone, not the window's
};

const std::vector<Example> &bundledExamples();
const Example *findExample(const QString &name);

// Resource path of an example's configuration file.
QString exampleConfigPath(const Example &example);

// Image paths in an example configuration are relative to the repository root
// (e.g. "examples/blob.png"); inside the program they live under ":/".
QString exampleResourcePath(const QString &repositoryRelativePath);

// The examples' files on disk, as an absolute folder: beside an installed
// program <prefix>/share/velloran/examples, for a program still in its build
// tree the repository's examples/. Empty when neither is there (a program
// copied elsewhere still has its compiled-in examples).
QString examplesFolder();

// An example's configuration read from `folder` (as examplesFolder gives it),
// its image paths made absolute, so the file reads the same from any working
// folder. The paths in the file are relative to the folder's parent, as they
// are to the repository root.
ConfigReadResult readExampleConfiguration(const Example &example, const QString &folder);

} // namespace velloran
