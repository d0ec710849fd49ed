#include "smokeimage.h"

#include <cmath>

namespace velloran {

QImage smokeImage(const Grid &density, const SmokeColour &colour) {
    const int n = static_cast<int>(density.NumCols()) - 2;
    QImage image(n, n, QImage::Format_RGBA8888);
    for (int y = 0; y < n; ++y) {
        uchar *line = image.scanLine(y);
        const auto j = static_cast<std::uint32_t>(n - y);
        for (int x = 0; x < n; ++x) {
            const double alpha = smokeCoverage(density(static_cast<std::uint32_t>(x + 1), j));
            uchar *pixel = line + 4 * x;
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
            pixel[3] = static_cast<uchar>(std::lround(alpha * 255.0));
        }
    }
    return image;
}

QImage overBlack(const QImage &smoke) {
    QImage flat(smoke.size(), QImage::Format_RGB888);
    const QImage source = smoke.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < source.height(); ++y) {
        const uchar *in = source.constScanLine(y);
        uchar *out = flat.scanLine(y);
        for (int x = 0; x < source.width(); ++x) {
            const int alpha = in[4 * x + 3];
            for (int c = 0; c < 3; ++c) {
                out[3 * x + c] = static_cast<uchar>((in[4 * x + c] * alpha + 127) / 255);
            }
        }
    }
    return flat;
}

} // namespace velloran
