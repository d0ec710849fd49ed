#pragma once

// The per-frame files of a render. Each kind of file is one FrameWriter; the
// run loop hands every writer the same frame and stops the run at the first
// one that fails. Writers put each file in place through an AtomicFile, so a
// frame file is complete or absent.
//
// A new kind of frame file (another image format, another field) is a new
// FrameWriter registered in frameformats.cpp; the loop, the summary and the
// sweep of an earlier render's files follow from the interface.

#include "colourpicture.h"
#include "framename.h"
#include "smokecolour.h"
#include "vdbframe.h"

#include "solver.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace velloran {

// A frame to write: the run's grids by name (Solver::fields(), or copies of
// some of them made while the run went on) and its grey picture.
struct Frame {
    int step = 0;
    std::vector<SolverField> grids;
    const QImage &grey; // densityImage of the density, made once per frame

    // The grid of that name; null, with *error naming it and `format`, when
    // the frame does not carry it.
    const Grid *grid(const char *name, const char *format, QString *error) const;
    // The same for a grid only some runs have ("solid"): null when absent.
    const Grid *optionalGrid(const char *name) const;
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

    // The step of a file this writer writes under its own names, if `name`
    // (without folder) is one.
    virtual std::optional<int> frameStep(const QString &name) const = 0;

    // The names (without folder) of the files this writer writes for `step`:
    // checked against the file system's limit before the run starts.
    virtual QStringList fileNames(int step) const = 0;

    // The summary's line(s) for this writer, e.g.
    // "  frames:  out/frame_NNNNNN.png (51)".
    virtual QStringList summary(const QString &folder, int frames) const = 0;
};

// "frame_000010.png" (or the run's own names): the density as 8-bit grey,
// upright; with an alpha colour, 8-bit RGBA in that colour with the density as
// straight alpha; with a colour picture, the fields' colour image (8-bit RGB).
class PngFrameWriter : public FrameWriter {
public:
    PngFrameWriter(QString folder, FrameNamePattern names,
                   std::optional<SmokeColour> alpha = std::nullopt,
                   std::optional<ColourPicture> picture = std::nullopt);
    bool write(const Frame &frame, QString *error) override;
    bool isOwnOutput(const QString &name) const override;
    std::optional<int> frameStep(const QString &name) const override;
    QStringList fileNames(int step) const override;
    QStringList summary(const QString &folder, int frames) const override;

private:
    QString m_folder;
    FrameNamePattern m_names;
    std::optional<SmokeColour> m_alpha;
    std::optional<ColourPicture> m_picture;
};

// One file per frame under the frame names, made by an encoder of the
// solver's cell-centred fields: the EXR and OpenVDB frames.
class EncodedFrameWriter : public FrameWriter {
public:
    bool write(const Frame &frame, QString *error) override;
    bool isOwnOutput(const QString &name) const override;
    std::optional<int> frameStep(const QString &name) const override;
    QStringList fileNames(int step) const override;
    QStringList summary(const QString &folder, int frames) const override;

protected:
    // `extension` without the dot; `label` starts the summary line
    // ("frames:"), `format` names the format in errors.
    EncodedFrameWriter(QString folder, FrameNamePattern names, const char *extension,
                       const char *label, const char *format);
    // The file's bytes; empty, with *error set, on failure.
    virtual QByteArray encode(const FrameFields &fields, QString *error) const = 0;
    // Said in the summary after the count ("" for nothing).
    virtual QString summaryNote() const { return QString(); }

private:
    QString m_folder;
    FrameNamePattern m_names;
    const char *m_extension;
    const char *m_label;
    const char *m_format;
};

// "frame_000010.exr": premultiplied RGBA and the raw fields as layers; with a
// colour picture, its RGBA and a density layer per field.
class ExrFrameWriter : public EncodedFrameWriter {
public:
    ExrFrameWriter(QString folder, FrameNamePattern names, SmokeColour colour,
                   std::optional<ColourPicture> picture = std::nullopt);

private:
    QByteArray encode(const FrameFields &fields, QString *error) const override;
    SmokeColour m_colour;
    std::optional<ColourPicture> m_picture;
};

// "frame_000010.vdb": the density and velocity grids of an OpenVDB volume.
class VdbFrameWriter : public EncodedFrameWriter {
public:
    VdbFrameWriter(QString folder, FrameNamePattern names, VdbSettings settings);

private:
    QByteArray encode(const FrameFields &fields, QString *error) const override;
    QString summaryNote() const override;
    VdbSettings m_settings;
};

// "density_000010.npy", "u_..." and "v_...": the framed solver grids, float64;
// in a run with obstacles also "solid_...", 1 in the solid cells. A colour
// run writes one file per field, named by its colour ("density.e03020_..."),
// in place of "density_". The number is formatted as the run's names format it.
class NpyFrameWriter : public FrameWriter {
public:
    NpyFrameWriter(QString folder, FrameNamePattern names, bool solid = false,
                   const std::vector<SmokeColour> &fieldColours = {});
    bool write(const Frame &frame, QString *error) override;
    bool isOwnOutput(const QString &name) const override;
    std::optional<int> frameStep(const QString &name) const override;
    QStringList fileNames(int step) const override;
    QStringList summary(const QString &folder, int frames) const override;

private:
    QString m_folder;
    FrameNamePattern m_names;
    bool m_solid;
    QStringList m_prefixes;              // one per file of a frame
    std::vector<QByteArray> m_gridNames; // the solver's grid each file holds
};

// Encodes `image` as PNG and puts it at `path` through an AtomicFile.
bool writePng(const QString &path, const QImage &image, QString *error);

} // namespace velloran
