#pragma once

// Obstacle images: which pixels are solid, and the file made into a run's
// mask (obstaclemask.h scales the picture to the grid).
//
// A pixel is solid when its alpha is above one half, in an image with an
// alpha channel, and otherwise when its luminance (0.2126 R + 0.7152 G +
// 0.0722 B, the components read as 0..1) is above one half: white or opaque
// walls, black or transparent room. An image that has an alpha channel is read
// by its alpha alone, so an opaque picture with an alpha channel is solid
// everywhere.

#include "grid.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace velloran {

bool obstaclePixelSolid(QRgb pixel, bool byAlpha);

// The picture's solid flags, row by row from the top.
std::vector<std::uint8_t> obstaclePixels(const QImage &image);

// The image scaled to a side x side mask (1 solid, 0 open), row 0 at the
// bottom of the picture like the density grids.
Grid obstaclesFromImage(const QImage &image, int side);

// Loads the file (the same rules as the source and target images) and makes
// the mask. False, with a few words in *reason, when it cannot be read.
bool loadObstacles(const QString &path, int side, Grid *mask, QString *reason);

} // namespace velloran
