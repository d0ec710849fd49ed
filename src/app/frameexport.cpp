#include "frameexport.h"

#include "atomicfile.h"
#include "exrframe.h"
#include "frameformats.h"
#include "framename.h"
#include "metrics.h"
#include "vdbframe.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace {

bool hasSuffix(const QString &path, const char *suffix) {
    return path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

// The renderer's .npy files of the frame, in the folder of `path`.
bool exportRawFields(const QString &path, const SimFrame &frame, const Grid *solid,
                     const velloran::ColourPicture *picture, QStringList *written, QString *error) {
    const QString folder = QFileInfo(path).absolutePath();
    velloran::NpyFrameWriter writer(folder, velloran::FrameNamePattern(), solid != nullptr,
                                    picture ? picture->colours
                                            : std::vector<velloran::SmokeColour>{});
    const auto step =
        static_cast<int>(std::clamp<std::int64_t>(frame.step, 0, std::numeric_limits<int>::max()));
    const NamedGrids grids = namedGrids(frame.density, frame.u, frame.v, frame.fields, solid);
    const QImage none;
    if (!writer.write({step, grids.grids, none}, error)) {
        return false;
    }
    for (const QString &name : writer.fileNames(step)) {
        *written << QDir(folder).filePath(name);
    }
    return true;
}

} // namespace

NamedGrids namedGrids(const Grid &density, const Grid &u, const Grid &v,
                      const std::vector<Grid> &fields, const Grid *solid) {
    NamedGrids named;
    named.names.reserve(fields.size()); // the pointers below must not move
    named.grids = {{"density", &density, false}, {"uCentre", &u, false}, {"vCentre", &v, false}};
    for (std::size_t k = 0; k < fields.size(); ++k) {
        named.names.push_back(QByteArray("density.") + QByteArray::number(qulonglong(k + 1)));
        named.grids.push_back({named.names.back().constData(), &fields[k], false});
    }
    if (solid) {
        named.grids.push_back({"solid", solid, true});
    }
    return named;
}

QString exportFileName(const SimFrame &frame, bool exr) {
    const auto step =
        static_cast<int>(std::clamp<std::int64_t>(frame.step, 0, std::numeric_limits<int>::max()));
    return velloran::FrameNamePattern().frameName(step, exr ? QStringLiteral("exr")
                                                            : QStringLiteral("png"));
}

// The renderer's writers, each putting its file in place whole or not at all.
bool exportFrame(const QString &path, const SimFrame &frame, QString *error, const Grid *solid,
                 const velloran::ColourPicture *picture, QStringList *written) {
    QStringList files;
    if (!written) {
        written = &files;
    }
    if (hasSuffix(path, ".npy")) {
        return exportRawFields(path, frame, solid, picture, written, error);
    }
    std::vector<const Grid *> densities;
    if (picture) {
        densities.push_back(&frame.density);
        for (const Grid &field : frame.fields) {
            densities.push_back(&field);
        }
    }
    const velloran::FrameFields fields{frame.density, frame.u, frame.v, solid, densities, picture};
    QByteArray bytes;
    if (hasSuffix(path, ".exr")) {
        bytes = velloran::exrBytes(fields, velloran::SmokeColour{}, error);
    } else if (hasSuffix(path, ".vdb")) {
        velloran::FrameSettings settings;
        if (picture) {
            settings.picture = *picture;
        }
        bytes = velloran::vdbBytes(fields, velloran::volumeSettings(settings), error);
    } else {
        const QImage image = picture ? velloran::colourImage(densities, *picture)
                                     : velloran::densityImage(frame.density);
        if (!velloran::writePng(path, image, error)) {
            return false;
        }
        *written << path;
        return true;
    }
    if (bytes.isEmpty() || !velloran::writeFileAtomically(path, bytes, error)) {
        return false;
    }
    *written << path;
    return true;
}
