#pragma once

// Run set-up: two image files become the source and target density grids of a
// run, and a configured Solver is built from them exactly as a run of the
// desktop program builds it.

#include "parameters.h"

#include "grid.h"
#include "solver.h"

#include <QImage>
#include <QString>

#include <memory>
#include <optional>

namespace velloran {

// Largest accepted image side in pixels. A 2048 x 2048 run keeps fifteen grids
// of about 2050 x 2050 doubles (roughly 0.5 GB); anything beyond that would
// not fit comfortably on a desktop machine.
constexpr int kMaxImageSide = 2048;

enum class RunSetupError {
    None,
    SourceUnreadable,
    TargetUnreadable,
    SourceTooLarge,
    SourceNotSquare,
    TargetTooLarge,
    TargetTooSmall,
};

// The user-visible text of an error, translated in the main window's context.
QString runSetupMessage(RunSetupError error);

// Loads an image with its format detected from the content. A file whose
// announced size exceeds kMaxImageSide on either side is not decoded: the
// result is a null image and *tooLarge is set.
QImage loadImage(const QString &path, bool *tooLarge);

// Density of one pixel: its blue component / 255 (red, green and alpha ignored).
inline double pixelDensity(QRgb pixel) {
    return qBlue(pixel) / 255.0;
}

// Fills a grid of `height` rows and `width` columns from the top-left region of
// `image`, flipped vertically: cell (i, j) takes pixel (i, height - 1 - j).
// The image must be at least width x height.
Grid densityFromImage(const QImage &image, int width, int height);

struct RunDensities {
    Grid srcDensity{1, 1};
    Grid tgtDensity{1, 1};
};

// Loads both images (both loads happen before either is examined), checks them
// and converts them. Reverse exchanges the roles: the target image fills
// srcDensity and the source image fills tgtDensity; the grid size always comes
// from the source image. On failure returns the first error in the order of
// RunSetupError and leaves *out alone.
RunSetupError prepareRun(const QString &sourcePath, const QString &targetPath, bool reverse,
                         RunDensities *out);

// Checks and converts two already loaded images (the same rules as prepareRun,
// without the file handling).
RunSetupError prepareRunFromImages(const QImage &source, const QImage &target, bool reverse,
                                   RunDensities *out);

// Builds the run's Solver and configures it in the order a run requires:
// construct, assign vf, vd, vg, set sigma, set the time step.
std::unique_ptr<Solver> makeSolver(const Grid &srcDensity, const Grid &tgtDensity,
                                   const SimParameters &parameters);

} // namespace velloran
