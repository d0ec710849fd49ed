#include "framewriter.h"

#include "atomicfile.h"
#include "npy.h"
#include "renderjob.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>

#include <utility>

namespace velloran {

QString stepFileName(const QString &prefix, int step, const char *suffix) {
    return QStringLiteral("%1_%2.%3")
        .arg(prefix)
        .arg(step, 6, 10, QLatin1Char('0'))
        .arg(QLatin1String(suffix));
}

bool writePng(const QString &path, const QImage &image, QString *error) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        *error = QStringLiteral("could not encode '%1' as PNG").arg(path);
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

PngFrameWriter::PngFrameWriter(QString folder)
    : m_folder(std::move(folder)) {}

bool PngFrameWriter::write(const Frame &frame, QString *error) {
    return writePng(
        QDir(m_folder).filePath(stepFileName(QStringLiteral("frame"), frame.step, "png")),
        frame.grey, error);
}

bool PngFrameWriter::isOwnOutput(const QString &name) const {
    static const QRegularExpression pattern(QStringLiteral("^frame_\\d{6,}\\.png$"));
    return pattern.match(name).hasMatch();
}

QStringList PngFrameWriter::summary(const QString &folder, int frames) const {
    return {QStringLiteral("  frames:  %1/frame_NNNNNN.png (%2)").arg(folder).arg(frames)};
}

NpyFrameWriter::NpyFrameWriter(QString folder)
    : m_folder(std::move(folder)) {}

bool NpyFrameWriter::write(const Frame &frame, QString *error) {
    const std::pair<const char *, const Grid *> fields[] = {
        {"density", frame.solver.m_density.get()},
        {"u", frame.solver.m_uCentre.get()},
        {"v", frame.solver.m_vCentre.get()},
    };
    for (const auto &[prefix, grid] : fields) {
        const QString path =
            QDir(m_folder).filePath(stepFileName(QLatin1String(prefix), frame.step, "npy"));
        if (!writeNpy(path, *grid, error)) {
            return false;
        }
    }
    return true;
}

bool NpyFrameWriter::isOwnOutput(const QString &name) const {
    static const QRegularExpression pattern(QStringLiteral("^(density|u|v)_\\d{6,}\\.npy$"));
    return pattern.match(name).hasMatch();
}

QStringList NpyFrameWriter::summary(const QString &folder, int frames) const {
    return {
        QStringLiteral("  fields:  %1/{density,u,v}_NNNNNN.npy (%2 each)").arg(folder).arg(frames)};
}

std::vector<std::unique_ptr<FrameWriter>> makeFrameWriters(const RenderJob &job,
                                                           const QString &folder) {
    std::vector<std::unique_ptr<FrameWriter>> writers;
    if (job.png) {
        writers.push_back(std::make_unique<PngFrameWriter>(folder));
    }
    if (job.npy) {
        writers.push_back(std::make_unique<NpyFrameWriter>(folder));
    }
    return writers;
}

} // namespace velloran
