#pragma once

// The per-frame files of a render: grey or RGBA PNG, EXR and the raw .npy
// fields, named by the run's pattern.

#include "framename.h"
#include "smokecolour.h"

#include "solver.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

namespace velloran {

struct FrameFormats {
    bool png = true;
    bool alpha = false; // RGBA PNG instead of grey
    bool npy = false;
    bool exr = false;
    SmokeColour colour;
    FrameNamePattern names;
};

class FrameWriter {
public:
    FrameWriter(const QString &dir, const FrameFormats &formats);

    // Writes every requested file of `step`, each replaced only once complete.
    // *videoFrame receives what a video shows of this step: the grey frame, or
    // the RGBA one over black. False, with *error, on the first failed write.
    bool write(const Solver &solver, int step, QImage *videoFrame, QString *error) const;

    // Names of the files write() makes for `step`.
    QStringList fileNames(int step) const;

    // The step of a per-frame file of this run's names, if `name` is one.
    std::optional<int> stepOf(const QString &name) const;

    // True for per-frame files of this run's names or of the default names,
    // in any format: what an earlier render in the folder may have left.
    bool isFrameFile(const QString &name) const;

private:
    QDir m_dir;
    FrameFormats m_formats;
};

// The picture a video shows of a frame when no PNG is written.
QImage videoFrameOf(const Solver &solver, const FrameFormats &formats);

} // namespace velloran
