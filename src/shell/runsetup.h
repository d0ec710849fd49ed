#pragma once

// Run set-up: two image files become the source and target density grids of a
// run, and a configured Solver is built from them exactly as a run of the
// desktop program builds it.

#include "parameters.h"

#include "grid.h"
#include "solver.h"

#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

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
    SourceEmpty, // no smoke: the blue channel is zero everywhere
    TargetEmpty, // no smoke in the part of the target a run uses
};

// The user-visible text of an error, translated in the main window's context.
QString runSetupMessage(RunSetupError error);

// Loads an image with its format detected from the content. A file whose
// announced size exceeds kMaxImageSide on either side is not decoded: the
// result is a null image and *tooLarge is set. Only regular files are read: a
// FIFO or a device is refused at once instead of waiting for data. When the
// result is null, *reason (if given) says why in a few words ("No such file or
// directory", "not a regular file", "Unsupported image format").
QImage loadImage(const QString &path, bool *tooLarge, QString *reason = nullptr);

// The same from an open device (the decoding half of loadImage).
QImage loadImageFrom(QIODevice *device, bool *tooLarge, QString *reason = nullptr);

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
    QSize sourceSize; // the images as loaded (before reverse exchanges their roles)
    QSize targetSize;
};

// Loads both images (both loads happen before either is examined), checks them
// and converts them. Reverse exchanges the roles: the target image fills
// srcDensity and the source image fills tgtDensity; the grid size always comes
// from the source image. On failure returns the first error in the order of
// RunSetupError and leaves *out alone; *reason (if given) then adds what the
// message leaves out, in a few words ("not a regular file", "Unsupported image
// format", "16 x 12 pixels"), or stays empty.
RunSetupError prepareRun(const QString &sourcePath, const QString &targetPath, bool reverse,
                         RunDensities *out, QString *reason = nullptr);

// True for the errors about the source image, false for those about the target.
bool isSourceProblem(RunSetupError error);

// Checks and converts two already loaded images (the same rules as prepareRun,
// without the file handling).
RunSetupError prepareRunFromImages(const QImage &source, const QImage &target, bool reverse,
                                   RunDensities *out);

// Builds the run's Solver and configures it in the order a run requires:
// construct, assign vf, vd, vg, set sigma, set the time step.
std::unique_ptr<Solver> makeSolver(const Grid &srcDensity, const Grid &tgtDensity,
                                   const SimParameters &parameters);
// The same for a run of several smoke fields sharing one flow.
std::unique_ptr<Solver> makeSolver(const std::vector<SmokeInput> &smoke,
                                   const SimParameters &parameters);

// Why a run cannot have these obstacles (a mask as obstacleimage.h makes
// it), in a few lower-case words; empty when it can. Obstacles need the sound
// scheme, and the solver's own checks (a target inside the walls, smoke the
// source cannot reach) are made here, before anything is built.
QString obstacleRefusal(Scheme scheme, const std::vector<SmokeInput> &smoke, const Grid &mask);

// A sound run with obstacles that obstacleRefusal accepted: the scheme and
// the mask are set before the target's fields are computed.
std::unique_ptr<Solver> makeSolver(const std::vector<SmokeInput> &smoke,
                                   const SimParameters &parameters, const Grid &obstacles);

} // namespace velloran
