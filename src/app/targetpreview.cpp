#include "targetpreview.h"

#include "colourfields.h"
#include "colourpicture.h"
#include "fieldinputs.h"
#include "metrics.h"
#include "obstacleimage.h"
#include "runsetup.h"

#include <QCoreApplication>
#include <QDir>

#include <vector>

namespace {

TargetPreview noPicture(const QString &problem, const QString &details = QString()) {
    return TargetPreview{QImage(), problem, details};
}

TargetPreview noTarget() {
    return noPicture(QCoreApplication::translate("MainWindow", "No target image"));
}

TargetPreview cannotPreview(const QString &details) {
    return noPicture(QCoreApplication::translate("MainWindow", "Cannot preview the target"),
                     details);
}

// The mask of the obstacle image on a side x side grid, or none.
std::optional<Grid> obstacleMask(const QString &path, int side) {
    Grid mask(1, 1);
    QString reason;
    if (path.isEmpty() || !velloran::loadObstacles(path, side, &mask, &reason)) {
        return std::nullopt;
    }
    return mask;
}

// What the solver makes of a target at its start, framed for the picture
// code: cleared in solid cells, then, when it is heavier than the source,
// scaled down to the source's mass (moving source smoke out of solid cells
// keeps its mass). Sums run columns outer, rows inner, as the solver's do.
Grid chasedTarget(const Grid *source, const Grid &target, const std::optional<Grid> &solid) {
    const std::uint32_t cols = target.NumCols();
    const std::uint32_t rows = target.NumRows();
    Grid framed(rows + 2, cols + 2);
    double targetMass = 0.0;
    for (std::uint32_t i = 0; i < cols; ++i) {
        for (std::uint32_t j = 0; j < rows; ++j) {
            const double value = solid && (*solid)(i, j) > 0.5 ? 0.0 : target(i, j);
            framed(i + 1, j + 1) = value;
            targetMass += value;
        }
    }
    if (!source) {
        return framed;
    }
    double sourceMass = 0.0;
    for (std::uint32_t i = 0; i < source->NumCols(); ++i) {
        for (std::uint32_t j = 0; j < source->NumRows(); ++j) {
            sourceMass += (*source)(i, j);
        }
    }
    if (targetMass > sourceMass) {
        for (std::uint32_t i = 1; i <= cols; ++i) {
            for (std::uint32_t j = 1; j <= rows; ++j) {
                framed(i, j) = framed(i, j) * sourceMass / targetMass;
            }
        }
    }
    return framed;
}

TargetPreview greyPreview(const QString &source, const QString &target, const QString &obstacles) {
    velloran::RunDensities densities;
    QString reason;
    velloran::RunSetupError error =
        velloran::prepareRun(source, target, false, &densities, &reason);
    if (error == velloran::RunSetupError::None) {
        const auto mask = obstacleMask(obstacles, static_cast<int>(densities.srcDensity.NumCols()));
        return TargetPreview{
            velloran::densityImage(chasedTarget(&densities.srcDensity, densities.tgtDensity, mask)),
            QString(), QString()};
    }
    if (velloran::isSourceProblem(error)) {
        // No grid to read it onto: the target alone, whole.
        bool tooLarge = false;
        reason.clear();
        const QImage image = velloran::loadImage(target, &tooLarge, &reason);
        if (!image.isNull()) {
            return TargetPreview{
                velloran::densityImage(chasedTarget(
                    nullptr, velloran::densityFromImage(image, image.width(), image.height()),
                    std::nullopt)),
                QString(), QString()};
        }
        error = tooLarge ? velloran::RunSetupError::TargetTooLarge
                         : velloran::RunSetupError::TargetUnreadable;
    }
    return cannotPreview(
        QStringLiteral("%1\n%2: %3")
            .arg(velloran::runSetupMessage(error), QDir::toNativeSeparators(target), reason)
            .trimmed());
}

TargetPreview colourPreview(const velloran::ColourConfiguration &colour, const QString &source,
                            const QString &target, const QString &obstacles) {
    std::vector<velloran::RunDensities> fields;
    velloran::ColourPicture picture;
    picture.mode = colour.mode;
    if (colour.fields.empty()) {
        if (target.isEmpty()) {
            return noTarget();
        }
        velloran::ColourFields found;
        QString error;
        if (!velloran::readColourFields(source, target, false,
                                        colour.palette.value_or(velloran::PaletteRequest{}), &found,
                                        &error)) {
            return cannotPreview(error);
        }
        fields = std::move(found.fields);
        picture.colours = found.palette.colours;
    } else {
        FieldInputsProblem problem;
        if (!readFieldInputs(colour.fields, false, &fields, &picture.colours, &problem)) {
            return cannotPreview(problem.text + QLatin1Char('\n') + problem.details);
        }
    }
    if (fields.empty()) {
        return noTarget();
    }
    const auto mask =
        obstacleMask(obstacles, static_cast<int>(fields.front().srcDensity.NumCols()));
    std::vector<Grid> targets;
    targets.reserve(fields.size());
    for (const velloran::RunDensities &field : fields) {
        targets.push_back(chasedTarget(&field.srcDensity, field.tgtDensity, mask));
    }
    std::vector<const Grid *> shown;
    shown.reserve(targets.size());
    for (const Grid &grid : targets) {
        shown.push_back(&grid);
    }
    return TargetPreview{velloran::colourImage(shown, picture), QString(), QString()};
}

} // namespace

TargetPreview previewTarget(const QString &source, const QString &target, const QString &obstacles,
                            const std::optional<velloran::ColourConfiguration> &colour) {
    if (colour) {
        return colourPreview(*colour, source, target, obstacles);
    }
    if (target.isEmpty()) {
        return noTarget();
    }
    return greyPreview(source, target, obstacles);
}
