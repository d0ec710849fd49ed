#include "runinputs.h"

#include "errors.h"
#include "renderer.h"
#include "runsetup.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cmath>

namespace velloran::binding {

namespace {

QString fromPath(const std::string &path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toPath(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

std::string quoted(const std::string &path) {
    return "'" + path + "'";
}

// The run set-up's own words for a failure, with the path it concerns.
[[noreturn]] void throwSetupError(RunSetupError error, const std::string &sourcePath,
                                  const std::string &targetPath) {
    const std::string message = runSetupMessage(error).toStdString();
    switch (error) {
    case RunSetupError::SourceUnreadable:
        throw FileError(readFailureErrno(sourcePath), message, sourcePath);
    case RunSetupError::TargetUnreadable:
        throw FileError(readFailureErrno(targetPath), message, targetPath);
    case RunSetupError::SourceTooLarge:
    case RunSetupError::SourceNotSquare:
    case RunSetupError::SourceEmpty:
        throw InputError(message + " (" + quoted(sourcePath) + ")");
    default:
        throw InputError(message + " (" + quoted(targetPath) + ")");
    }
}

void loadDensities(const std::string &sourcePath, const std::string &targetPath, bool reverse,
                   RunInputs *inputs) {
    RunDensities densities;
    const RunSetupError error =
        prepareRun(fromPath(sourcePath), fromPath(targetPath), reverse, &densities);
    if (error != RunSetupError::None) {
        throwSetupError(error, sourcePath, targetPath);
    }
    inputs->source = std::move(densities.srcDensity);
    inputs->target = std::move(densities.tgtDensity);
}

} // namespace

void applyParameters(const ParameterValues &values, SimParameters *parameters,
                     std::vector<std::string> *notes) {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (!values[k]) {
            continue;
        }
        const double value = *values[k];
        const ParameterRange &range = kParameterRanges[k];
        const QString key = QLatin1String(range.key);
        if (!std::isfinite(value)) {
            throw InputError(QStringLiteral("%1 must be a finite number, not %2")
                                 .arg(key, QString::number(value))
                                 .toStdString());
        }
        if (value < range.minimum || value > range.maximum) {
            throw InputError(QStringLiteral("%1 = %2 is outside %3 .. %4")
                                 .arg(key, QString::number(value, 'g', 17),
                                      QString::number(range.minimum),
                                      QString::number(range.maximum))
                                 .toStdString());
        }
        const double rounded = clampParameter(k, value);
        if (rounded != value) {
            notes->push_back(QStringLiteral("%1 = %2 rounded to %3 decimal(s): %4")
                                 .arg(key, QString::number(value, 'g', 17))
                                 .arg(range.decimals)
                                 .arg(QString::number(rounded, 'g', 12))
                                 .toStdString());
        }
        (*parameters)[k] = rounded;
    }
}

RunInputs inputsFromImages(const std::string &sourcePath, const std::string &targetPath,
                           bool reverse) {
    RunInputs inputs;
    loadDensities(sourcePath, targetPath, reverse, &inputs);
    return inputs;
}

RunInputs inputsFromConfiguration(const std::string &path, bool reverse) {
    if (const int errnum = readFailureErrno(path)) {
        throw FileError(errnum, "could not open configuration file", path);
    }
    RenderOptions options;
    options.configPath = fromPath(path);
    options.reverse = reverse;
    RenderJob job;
    QStringList notes;
    QString error;
    if (!resolveJob(options, &job, &notes, &error)) {
        throw InputError(error.toStdString());
    }
    RunInputs inputs;
    for (const QString &note : std::as_const(notes)) {
        inputs.notes.push_back(note.toStdString());
    }
    if (job.sourcePath.isEmpty() || job.targetPath.isEmpty()) {
        // The reader's notes say why (a foreign root element, say).
        std::string message = "configuration file " + quoted(path) + " names no " +
                              (job.sourcePath.isEmpty() ? "source" : "target") + " image";
        for (const std::string &note : inputs.notes) {
            message += "; " + note;
        }
        throw InputError(message);
    }
    loadDensities(toPath(job.sourcePath), toPath(job.targetPath), job.reverse, &inputs);
    inputs.parameters = job.parameters;
    return inputs;
}

Grid densityFromImageFile(const std::string &path) {
    bool tooLarge = false;
    const QImage image = loadImage(fromPath(path), &tooLarge);
    if (tooLarge) {
        throw InputError(QStringLiteral("The image is too large (at most %1 x %1 pixels). (%2)")
                             .arg(kMaxImageSide)
                             .arg(QString::fromStdString(quoted(path)))
                             .toStdString());
    }
    if (image.isNull()) {
        throw FileError(readFailureErrno(path), "Could not load image.", path);
    }
    return densityFromImage(image, image.width(), image.height());
}

} // namespace velloran::binding
