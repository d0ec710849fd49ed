#include "colourpicture.h"

#include <algorithm>
#include <cmath>

namespace velloran {

namespace {

double smokeAmount(double density) {
    return std::isfinite(density) ? std::max(density, 0.0) : 0.0;
}

std::uint8_t byteOf(double value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

} // namespace

QImage colourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture) {
    const int n = static_cast<int>(densities.front()->NumCols()) - 2;
    QImage image(n, n, QImage::Format_RGB888);
    for (int y = 0; y < n; ++y) {
        uchar *line = image.scanLine(y);
        const auto j = static_cast<std::uint32_t>(n - y);
        for (int x = 0; x < n; ++x) {
            const auto i = static_cast<std::uint32_t>(x + 1);
            double total = 0.0;
            double mix[3] = {0.0, 0.0, 0.0};
            for (std::size_t k = 0; k < densities.size(); ++k) {
                const double rho = smokeAmount((*densities[k])(i, j));
                const SmokeColour &c = picture.colours[k];
                total += rho;
                mix[0] += c.red / 255.0 * rho;
                mix[1] += c.green / 255.0 * rho;
                mix[2] += c.blue / 255.0 * rho;
            }
            const double through = std::exp(-kDarkAbsorption * total);
            for (int c = 0; c < 3; ++c) {
                double value = mix[c];
                if (picture.mode == ColourMode::Dark) {
                    const double absorbed = total > 0.0 ? mix[c] / total : 0.0;
                    value = through + (1.0 - through) * absorbed;
                }
                line[3 * x + c] = byteOf(value);
            }
        }
    }
    return image;
}

} // namespace velloran
