#include "frameoutput.h"

#include "exrframe.h"
#include "metrics.h"
#include "npy.h"
#include "smokeimage.h"

#include <QBuffer>
#include <QSaveFile>

namespace velloran {

namespace {

const char *const kFieldPrefixes[] = {"density_", "u_", "v_"};

bool writeBytes(const QString &path, const QByteArray &bytes, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("could not write '%1': %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray pngBytes(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

std::optional<int> stepOfAny(const FrameNamePattern &names, const QString &name) {
    for (const char *extension : {"png", "exr"}) {
        if (const std::optional<int> step = names.frameStep(name, QLatin1String(extension))) {
            return step;
        }
    }
    for (const char *prefix : kFieldPrefixes) {
        if (const std::optional<int> step =
                names.fieldStep(name, QLatin1String(prefix), QStringLiteral("npy"))) {
            return step;
        }
    }
    return std::nullopt;
}

} // namespace

FrameWriter::FrameWriter(const QString &dir, const FrameFormats &formats)
    : m_dir(dir)
    , m_formats(formats) {}

QImage videoFrameOf(const Solver &solver, const FrameFormats &formats) {
    return formats.alpha ? overBlack(smokeImage(*solver.m_density, formats.colour))
                         : densityImage(*solver.m_density);
}

bool FrameWriter::write(const Solver &solver, int step, QImage *videoFrame, QString *error) const {
    const FrameNamePattern &names = m_formats.names;
    if (m_formats.png) {
        const QImage image = m_formats.alpha ? smokeImage(*solver.m_density, m_formats.colour)
                                             : densityImage(*solver.m_density);
        if (videoFrame) {
            *videoFrame = m_formats.alpha ? overBlack(image) : image;
        }
        if (!writeBytes(m_dir.filePath(names.frameName(step, QStringLiteral("png"))),
                        pngBytes(image), error)) {
            return false;
        }
    } else if (videoFrame) {
        *videoFrame = videoFrameOf(solver, m_formats);
    }
    if (m_formats.exr) {
        const QString path = m_dir.filePath(names.frameName(step, QStringLiteral("exr")));
        QString reason;
        const QByteArray bytes = exrBytes({*solver.m_density, *solver.m_uCentre, *solver.m_vCentre},
                                          m_formats.colour, &reason);
        if (bytes.isEmpty()) {
            *error = QStringLiteral("could not write '%1': %2").arg(path, reason);
            return false;
        }
        if (!writeBytes(path, bytes, error)) {
            return false;
        }
    }
    if (m_formats.npy) {
        const Grid *fields[] = {solver.m_density.get(), solver.m_uCentre.get(),
                                solver.m_vCentre.get()};
        for (int k = 0; k < 3; ++k) {
            const QString path = m_dir.filePath(
                names.fieldName(QLatin1String(kFieldPrefixes[k]), step, QStringLiteral("npy")));
            if (!writeBytes(path, npyBytes(*fields[k]), error)) {
                return false;
            }
        }
    }
    return true;
}

QStringList FrameWriter::fileNames(int step) const {
    const FrameNamePattern &names = m_formats.names;
    QStringList result;
    if (m_formats.png) {
        result << names.frameName(step, QStringLiteral("png"));
    }
    if (m_formats.exr) {
        result << names.frameName(step, QStringLiteral("exr"));
    }
    if (m_formats.npy) {
        for (const char *prefix : kFieldPrefixes) {
            result << names.fieldName(QLatin1String(prefix), step, QStringLiteral("npy"));
        }
    }
    return result;
}

std::optional<int> FrameWriter::stepOf(const QString &name) const {
    return stepOfAny(m_formats.names, name);
}

bool FrameWriter::isFrameFile(const QString &name) const {
    return stepOfAny(m_formats.names, name).has_value() ||
           stepOfAny(FrameNamePattern(), name).has_value();
}

} // namespace velloran
