#include "runsetup.h"

#include "regularfile.h"

#include "obstacles.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <utility>

namespace velloran {

QString runSetupMessage(RunSetupError error) {
    switch (error) {
    case RunSetupError::None:
        return QString();
    case RunSetupError::SourceUnreadable:
        return QCoreApplication::translate("MainWindow", "Could not load source image.");
    case RunSetupError::TargetUnreadable:
        return QCoreApplication::translate("MainWindow", "Could not load target image.");
    case RunSetupError::SourceTooLarge:
        return QCoreApplication::translate("MainWindow",
                                           "The source image is too large (at most %1 x %1 "
                                           "pixels).")
            .arg(kMaxImageSide);
    case RunSetupError::SourceNotSquare:
        return QCoreApplication::translate("MainWindow", "The source image must be square.");
    case RunSetupError::TargetTooLarge:
        return QCoreApplication::translate("MainWindow",
                                           "The target image is too large (at most %1 x %1 "
                                           "pixels).")
            .arg(kMaxImageSide);
    case RunSetupError::TargetTooSmall:
        return QCoreApplication::translate("MainWindow",
                                           "The target image is smaller than the source image.");
    case RunSetupError::SourceEmpty:
        return QCoreApplication::translate(
            "MainWindow", "The source image has no smoke: its blue channel is zero everywhere.");
    case RunSetupError::TargetEmpty:
        return QCoreApplication::translate("MainWindow",
                                           "The target image has no smoke: its blue channel is "
                                           "zero in the part a run uses.");
    }
    return QString();
}

namespace {

bool hasSmoke(const Grid &density) {
    for (std::uint32_t j = 0; j < density.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < density.NumCols(); ++i) {
            if (density(i, j) > 0.0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

QImage loadImage(const QString &path, bool *tooLarge, QString *reason) {
    *tooLarge = false;
    QFile file;
    QString why;
    if (!openRegularFile(path, &file, &why)) {
        if (reason) {
            *reason = why;
        }
        return QImage();
    }
    return loadImageFrom(&file, tooLarge, reason);
}

QImage loadImageFrom(QIODevice *device, bool *tooLarge, QString *reason) {
    *tooLarge = false;
    const auto fail = [reason](const QString &why) {
        if (reason) {
            *reason = why;
        }
        return QImage();
    };
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    // Most formats announce their size in the header: refuse before decoding.
    const QSize announced = reader.size();
    if (announced.isValid() &&
        (announced.width() > kMaxImageSide || announced.height() > kMaxImageSide)) {
        *tooLarge = true;
        return fail(
            QStringLiteral("%1 x %2 pixels").arg(announced.width()).arg(announced.height()));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return fail(reader.errorString());
    }
    if (image.width() > kMaxImageSide || image.height() > kMaxImageSide) {
        *tooLarge = true;
        return fail(QStringLiteral("%1 x %2 pixels").arg(image.width()).arg(image.height()));
    }
    return image;
}

Grid densityFromImage(const QImage &image, int width, int height) {
    Grid grid(static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width));
    // The formats pictures are usually read as hold the blue component as a
    // byte of their own: read it from the lines (QImage::pixel converts one
    // pixel at a time, a few milliseconds for a large picture).
    const QImage::Format format = image.format();
    const bool words = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                       format == QImage::Format_ARGB32_Premultiplied;
    for (int y = 0; y < height; ++y) {
        const auto j = static_cast<std::uint32_t>(height - 1 - y);
        const uchar *line = image.constScanLine(y);
        for (int i = 0; i < width; ++i) {
            const QRgb pixel = words ? reinterpret_cast<const QRgb *>(line)[i]
                               : format == QImage::Format_Grayscale8
                                   ? qRgb(line[i], line[i], line[i])
                                   : image.pixel(i, y);
            grid(static_cast<std::uint32_t>(i), j) = pixelDensity(pixel);
        }
    }
    return grid;
}

RunSetupError prepareRunFromImages(const QImage &source, const QImage &target, bool reverse,
                                   RunDensities *out) {
    if (source.isNull()) {
        return RunSetupError::SourceUnreadable;
    }
    if (target.isNull()) {
        return RunSetupError::TargetUnreadable;
    }
    if (source.width() > kMaxImageSide || source.height() > kMaxImageSide) {
        return RunSetupError::SourceTooLarge;
    }
    if (source.width() != source.height()) {
        return RunSetupError::SourceNotSquare;
    }
    if (target.width() > kMaxImageSide || target.height() > kMaxImageSide) {
        return RunSetupError::TargetTooLarge;
    }
    // A smaller target would be read outside its pixels; refuse the pair.
    if (target.width() < source.width() || target.height() < source.height()) {
        return RunSetupError::TargetTooSmall;
    }
    const int width = source.width();
    const int height = source.height();
    Grid sourceDensity = densityFromImage(source, width, height);
    Grid targetDensity = densityFromImage(target, width, height);
    // Without smoke there is nothing to move, or nothing to move it to: the
    // solver would scale the run to nothing and report a perfect match.
    if (!hasSmoke(sourceDensity)) {
        return RunSetupError::SourceEmpty;
    }
    if (!hasSmoke(targetDensity)) {
        return RunSetupError::TargetEmpty;
    }
    out->srcDensity = std::move(reverse ? targetDensity : sourceDensity);
    out->tgtDensity = std::move(reverse ? sourceDensity : targetDensity);
    out->sourceSize = source.size();
    out->targetSize = target.size();
    return RunSetupError::None;
}

bool isSourceProblem(RunSetupError error) {
    return error == RunSetupError::SourceUnreadable || error == RunSetupError::SourceTooLarge ||
           error == RunSetupError::SourceNotSquare || error == RunSetupError::SourceEmpty;
}

RunSetupError prepareRun(const QString &sourcePath, const QString &targetPath, bool reverse,
                         RunDensities *out, QString *reason) {
    bool sourceTooLarge = false;
    bool targetTooLarge = false;
    QString sourceReason;
    QString targetReason;
    const QImage source = loadImage(sourcePath, &sourceTooLarge, &sourceReason);
    const QImage target = loadImage(targetPath, &targetTooLarge, &targetReason);
    RunSetupError error = RunSetupError::None;
    if (source.isNull() && !sourceTooLarge) {
        error = RunSetupError::SourceUnreadable;
    } else if (target.isNull() && !targetTooLarge) {
        error = RunSetupError::TargetUnreadable;
    } else if (sourceTooLarge) {
        error = RunSetupError::SourceTooLarge;
    } else if (source.width() != source.height()) {
        error = RunSetupError::SourceNotSquare;
        sourceReason = QStringLiteral("%1 x %2 pixels").arg(source.width()).arg(source.height());
    } else if (targetTooLarge) {
        error = RunSetupError::TargetTooLarge;
    } else {
        error = prepareRunFromImages(source, target, reverse, out);
        if (error == RunSetupError::TargetTooSmall) {
            targetReason = QStringLiteral("%1 x %2 pixels, the source image %3 x %4")
                               .arg(target.width())
                               .arg(target.height())
                               .arg(source.width())
                               .arg(source.height());
        }
    }
    if (error != RunSetupError::None && reason) {
        *reason = isSourceProblem(error) ? sourceReason : targetReason;
    }
    return error;
}

std::unique_ptr<Solver> makeSolver(const Grid &srcDensity, const Grid &tgtDensity,
                                   const SimParameters &parameters) {
    return makeSolver(std::vector<SmokeInput>{{&srcDensity, &tgtDensity}}, parameters);
}

namespace {

std::unique_ptr<Solver> makeSolver(const std::vector<SmokeInput> &smoke,
                                   const SimParameters &parameters, const Grid *obstacles) {
    auto solver = std::make_unique<Solver>(smoke);
    solver->m_vf = parameters.vf();
    solver->m_vd = parameters.vd();
    solver->m_vg = parameters.vg();
    if (obstacles) {
        solver->setScheme(Scheme::Sound);
        solver->setObstacles(*obstacles);
    }
    solver->setSigma(parameters.sigma());
    solver->setTimeStep(parameters.dt());
    return solver;
}

} // namespace

std::unique_ptr<Solver> makeSolver(const std::vector<SmokeInput> &smoke,
                                   const SimParameters &parameters) {
    return makeSolver(smoke, parameters, nullptr);
}

QString obstacleRefusal(Scheme scheme, const std::vector<SmokeInput> &smoke, const Grid &mask) {
    if (scheme != Scheme::Sound) {
        return QStringLiteral("obstacles need the sound scheme; the literal scheme has none");
    }
    const ObstacleProblem problem = checkObstacles(smoke, mask);
    return problem == ObstacleProblem::None ? QString()
                                            : QString::fromUtf8(obstacleMessage(problem));
}

std::unique_ptr<Solver> makeSolver(const std::vector<SmokeInput> &smoke,
                                   const SimParameters &parameters, const Grid &obstacles) {
    return makeSolver(smoke, parameters, &obstacles);
}

} // namespace velloran
