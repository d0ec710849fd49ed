#include "colourfields.h"

#include <utility>

namespace velloran {

namespace {

double massOf(const Grid &density) {
    double mass = 0.0;
    for (std::uint32_t i = 0; i < density.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < density.NumRows(); ++j) {
            mass += density(i, j);
        }
    }
    return mass;
}

// The grey source's smoke, split in the fields' target proportions.
std::vector<Grid> sharedSource(const QImage &source, const std::vector<Grid> &targets, int side) {
    const Grid grey = densityFromImage(source, side, side);
    double total = 0.0;
    for (const Grid &target : targets) {
        total += massOf(target);
    }
    std::vector<Grid> shares;
    for (const Grid &target : targets) {
        const double share = massOf(target) / total;
        Grid field = grey;
        for (std::uint32_t i = 0; i < field.NumCols(); ++i) {
            for (std::uint32_t j = 0; j < field.NumRows(); ++j) {
                field(i, j) = grey(i, j) * share;
            }
        }
        shares.push_back(std::move(field));
    }
    return shares;
}

QString sizeText(const QImage &image) {
    return QStringLiteral("%1 x %2").arg(image.width()).arg(image.height());
}

} // namespace

bool colourFieldsFromImages(const QImage &source, const QImage &target,
                            const PaletteRequest &request, ColourFields *out, QString *error) {
    for (const QImage *image : {&source, &target}) {
        const bool isSource = image == &source;
        if (image->width() > kMaxImageSide || image->height() > kMaxImageSide) {
            *error = runSetupMessage(isSource ? RunSetupError::SourceTooLarge
                                              : RunSetupError::TargetTooLarge);
            return false;
        }
    }
    if (source.width() != source.height()) {
        *error = runSetupMessage(RunSetupError::SourceNotSquare) +
                 QStringLiteral(" (%1 pixels)").arg(sizeText(source));
        return false;
    }
    if (target.size() != source.size()) {
        *error = QStringLiteral("the source image is %1 pixels and the colour target %2; a "
                                "palette run needs both of one size")
                     .arg(sizeText(source), sizeText(target));
        return false;
    }
    Palette palette;
    if (!findPalette(target, request, &palette, error)) {
        return false;
    }
    const int side = source.width();
    std::vector<Grid> targets = paletteDensities(target, palette, side);
    std::vector<Grid> sources;
    if (source.allGray()) {
        sources = sharedSource(source, targets, side);
        if (massOf(sources.front()) <= 0.0) {
            *error = runSetupMessage(RunSetupError::SourceEmpty);
            return false;
        }
    } else {
        sources = paletteDensities(source, palette, side);
        for (std::size_t k = 0; k < sources.size(); ++k) {
            if (massOf(sources[k]) <= 0.0) {
                *error = QStringLiteral("the source image has no smoke of the palette colour #%1")
                             .arg(palette.colours[k].hex());
                return false;
            }
        }
    }
    ColourFields result;
    result.palette = palette;
    for (std::size_t k = 0; k < targets.size(); ++k) {
        RunDensities field;
        field.srcDensity = std::move(sources[k]);
        field.tgtDensity = std::move(targets[k]);
        field.sourceSize = source.size();
        field.targetSize = target.size();
        result.fields.push_back(std::move(field));
    }
    *out = std::move(result);
    return true;
}

bool readColourFields(const QString &sourcePath, const QString &targetPath, bool reverse,
                      const PaletteRequest &request, ColourFields *out, QString *error) {
    QImage images[2];
    const QString *paths[2] = {&sourcePath, &targetPath};
    for (int k = 0; k < 2; ++k) {
        bool tooLarge = false;
        QString reason;
        images[k] = loadImage(*paths[k], &tooLarge, &reason);
        if (images[k].isNull()) {
            const RunSetupError problem =
                k == 0
                    ? (tooLarge ? RunSetupError::SourceTooLarge : RunSetupError::SourceUnreadable)
                    : (tooLarge ? RunSetupError::TargetTooLarge : RunSetupError::TargetUnreadable);
            *error =
                QStringLiteral("%1 ('%2': %3)").arg(runSetupMessage(problem), *paths[k], reason);
            return false;
        }
    }
    if (reverse) {
        std::swap(images[0], images[1]);
    }
    return colourFieldsFromImages(images[0], images[1], request, out, error);
}

} // namespace velloran
