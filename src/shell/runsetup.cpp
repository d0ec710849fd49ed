#include "runsetup.h"

#include <QCoreApplication>
#include <QImageReader>

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
    }
    return QString();
}

QImage loadImage(const QString &path, bool *tooLarge) {
    *tooLarge = false;
    if (path.isEmpty()) {
        return QImage();
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // Most formats announce their size in the header: refuse before decoding.
    const QSize announced = reader.size();
    if (announced.isValid() &&
        (announced.width() > kMaxImageSide || announced.height() > kMaxImageSide)) {
        *tooLarge = true;
        return QImage();
    }
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > kMaxImageSide || image.height() > kMaxImageSide)) {
        *tooLarge = true;
        return QImage();
    }
    return image;
}

Grid densityFromImage(const QImage &image, int width, int height) {
    Grid grid(static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width));
    for (int i = 0; i < width; ++i) {
        for (int y = 0; y < height; ++y) {
            const int j = height - 1 - y;
            grid(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)) =
                pixelDensity(image.pixel(i, y));
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
    const QImage &first = reverse ? target : source;
    const QImage &second = reverse ? source : target;
    out->srcDensity = densityFromImage(first, width, height);
    out->tgtDensity = densityFromImage(second, width, height);
    return RunSetupError::None;
}

RunSetupError prepareRun(const QString &sourcePath, const QString &targetPath, bool reverse,
                         RunDensities *out) {
    bool sourceTooLarge = false;
    bool targetTooLarge = false;
    const QImage source = loadImage(sourcePath, &sourceTooLarge);
    const QImage target = loadImage(targetPath, &targetTooLarge);
    if (source.isNull() && !sourceTooLarge) {
        return RunSetupError::SourceUnreadable;
    }
    if (target.isNull() && !targetTooLarge) {
        return RunSetupError::TargetUnreadable;
    }
    if (sourceTooLarge) {
        return RunSetupError::SourceTooLarge;
    }
    if (source.width() != source.height()) {
        return RunSetupError::SourceNotSquare;
    }
    if (targetTooLarge) {
        return RunSetupError::TargetTooLarge;
    }
    return prepareRunFromImages(source, target, reverse, out);
}

std::unique_ptr<Solver> makeSolver(const Grid &srcDensity, const Grid &tgtDensity,
                                   const SimParameters &parameters) {
    auto solver = std::make_unique<Solver>(srcDensity, tgtDensity);
    solver->m_vf = parameters.vf();
    solver->m_vd = parameters.vd();
    solver->m_vg = parameters.vg();
    solver->setSigma(parameters.sigma());
    solver->setTimeStep(parameters.dt());
    return solver;
}

} // namespace velloran
