#include "colourpicture.h"

#include "colourerror.h"

#include <algorithm>
#include <cmath>

namespace velloran {

double smokeAmount(double density) {
    return std::isfinite(density) ? std::max(density, 0.0) : 0.0;
}

namespace {

std::uint8_t byteOf(double value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

} // namespace

CellColour cellColour(const std::vector<const Grid *> &densities, std::uint32_t i, std::uint32_t j,
                      const ColourPicture &picture) {
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
    CellColour cell;
    const double through = std::exp(-kDarkAbsorption * total);
    cell.alpha = picture.mode == ColourMode::Dark ? 1.0 - through : std::min(total, 1.0);
    for (int c = 0; c < 3; ++c) {
        const double absorbed = total > 0.0 ? mix[c] / total : 0.0;
        if (picture.mode == ColourMode::Dark) {
            cell.shown[c] = through + (1.0 - through) * absorbed;
            cell.premultiplied[c] = cell.alpha * absorbed;
        } else {
            cell.shown[c] = std::clamp(mix[c], 0.0, 1.0);
            cell.premultiplied[c] = cell.shown[c];
        }
    }
    return cell;
}

namespace {

// The N x N interior, upright like densityImage, each pixel's bytes set by
// `pixel` from its cell. *image is drawn over in place when it already has the
// size and format (a live view redraws every frame into one image).
template <class Pixel>
void drawPicture(const std::vector<const Grid *> &densities, const ColourPicture &picture,
                 QImage::Format format, int bytes, Pixel pixel, QImage *image) {
    const int n = static_cast<int>(densities.front()->NumCols()) - 2;
    if (image->width() != n || image->height() != n || image->format() != format) {
        *image = QImage(n, n, format);
    }
    for (int y = 0; y < n; ++y) {
        uchar *line = image->scanLine(y);
        const auto j = static_cast<std::uint32_t>(n - y);
        for (int x = 0; x < n; ++x) {
            pixel(cellColour(densities, static_cast<std::uint32_t>(x + 1), j, picture),
                  line + bytes * x);
        }
    }
}

} // namespace

void drawColourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture,
                     QImage *image) {
    drawPicture(
        densities, picture, QImage::Format_RGB888, 3,
        [](const CellColour &cell, uchar *out) {
            for (int c = 0; c < 3; ++c) {
                out[c] = byteOf(cell.shown[c]);
            }
        },
        image);
}

QImage colourImage(const std::vector<const Grid *> &densities, const ColourPicture &picture) {
    QImage image;
    drawColourImage(densities, picture, &image);
    return image;
}

QImage colourRgbaImage(const std::vector<const Grid *> &densities, const ColourPicture &picture) {
    QImage image;
    drawPicture(
        densities, picture, QImage::Format_RGBA8888, 4,
        [](const CellColour &cell, uchar *out) {
            for (int c = 0; c < 3; ++c) {
                out[c] = cell.alpha > 0.0 ? byteOf(cell.premultiplied[c] / cell.alpha) : 0;
            }
            out[3] = byteOf(cell.alpha);
        },
        &image);
    return image;
}

double colourError(const std::vector<const Grid *> &densities,
                   const std::vector<const Grid *> &targets, const ColourPicture &picture) {
    return ColourErrorMeter().measure(densities, targets, picture);
}

} // namespace velloran
