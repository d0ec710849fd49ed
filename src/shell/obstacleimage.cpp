#include "obstacleimage.h"

#include "obstaclemask.h"
#include "runsetup.h"

namespace velloran {

bool obstaclePixelSolid(QRgb pixel, bool byAlpha) {
    if (byAlpha) {
        return 2 * qAlpha(pixel) > 255;
    }
    // 0.2126 r + 0.7152 g + 0.0722 b > 255 / 2, in integers so that no
    // rounding decides a grey on the edge.
    return 2 * (2126 * qRed(pixel) + 7152 * qGreen(pixel) + 722 * qBlue(pixel)) > 10000 * 255;
}

std::vector<std::uint8_t> obstaclePixels(const QImage &image) {
    const bool byAlpha = image.hasAlphaChannel();
    // One conversion up front: pixel() on a palette or 16-bit image converts
    // every call.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    std::vector<std::uint8_t> solid(static_cast<std::size_t>(argb.width()) *
                                    static_cast<std::size_t>(argb.height()));
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            solid[static_cast<std::size_t>(y) * static_cast<std::size_t>(argb.width()) +
                  static_cast<std::size_t>(x)] = obstaclePixelSolid(line[x], byAlpha) ? 1 : 0;
        }
    }
    return solid;
}

Grid obstaclesFromImage(const QImage &image, int side) {
    return resampleObstacles(obstaclePixels(image), image.width(), image.height(), side);
}

bool loadObstacles(const QString &path, int side, Grid *mask, QString *reason) {
    bool tooLarge = false;
    QString why;
    const QImage image = loadImage(path, &tooLarge, &why);
    if (image.isNull()) {
        *reason = tooLarge
                      ? QStringLiteral("%1; at most %2 x %2 pixels").arg(why).arg(kMaxImageSide)
                      : why;
        return false;
    }
    *mask = obstaclesFromImage(image, side);
    return true;
}

} // namespace velloran
