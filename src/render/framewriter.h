#pragma once

// The per-frame files of a render. Each kind of file is one FrameWriter; the
// run loop hands every writer the same frame and stops the run at the first
// one that fails. Writers put each file in place through an AtomicFile, so a
// frame file is complete or absent.
//
// A new kind of frame file (another image format, another field) is a new
// FrameWriter added in makeFrameWriters; the loop, the summary and the sweep
// of an earlier render's files follow from the interface.

#include "solver.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace velloran {

struct RenderJob;

struct Frame {
    int step = 0;
    const Solver &solver;
    const QImage &grey; // densityImage of the solver's density, made once per frame
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;

    // Writes this writer's files for the frame. On failure returns false with
    // *error naming the file and the reason.
    virtual bool write(const Frame &frame, QString *error) = 0;

    // True for a file name (without folder) this writer produces: such files
    // in the output folder are taken as an earlier render's and removed
    // before the run starts, so frames of two runs never mix.
    virtual bool isOwnOutput(const QString &name) const = 0;

    // The summary's line(s) for this writer, e.g.
    // "  frames:  out/frame_NNNNNN.png (51)".
    virtual QStringList summary(const QString &folder, int frames) const = 0;
};

// "frame_000010.png": the density as 8-bit grey, upright.
class PngFrameWriter : public FrameWriter {
public:
    explicit PngFrameWriter(QString folder);
    bool write(const Frame &frame, QString *error) override;
    bool isOwnOutput(const QString &name) const override;
    QStringList summary(const QString &folder, int frames) const override;

private:
    QString m_folder;
};

// "density_000010.npy", "u_..." and "v_...": the framed solver grids, float64.
class NpyFrameWriter : public FrameWriter {
public:
    explicit NpyFrameWriter(QString folder);
    bool write(const Frame &frame, QString *error) override;
    bool isOwnOutput(const QString &name) const override;
    QStringList summary(const QString &folder, int frames) const override;

private:
    QString m_folder;
};

// The writers a job asks for, writing into `folder`.
std::vector<std::unique_ptr<FrameWriter>> makeFrameWriters(const RenderJob &job,
                                                           const QString &folder);

// Encodes `image` as PNG and puts it at `path` through an AtomicFile.
bool writePng(const QString &path, const QImage &image, QString *error);

// "PREFIX_000010.SUFFIX": the six-digit step names of the frame files.
QString stepFileName(const QString &prefix, int step, const char *suffix);

} // namespace velloran
