// The PNG writer must leave the files Qt's writer leaves, byte for byte.

#include "metrics.h"
#include "pngencoder.h"

#include <QBuffer>
#include <QPainter>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace velloran;

namespace {

QByteArray qtBytes(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Noise of a few levels on smooth ramps and flat patches, so that every one
// of the five filters wins some rows and ties occur.
QImage picture(QImage::Format format, int width, int height, unsigned draw) {
    std::mt19937 random(draw);
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y) {
        const int kind = static_cast<int>(random() % 5);
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random() % 256);
            const int value = kind == 0   ? noise
                              : kind == 1 ? (x * 3 + y) % 256
                              : kind == 2 ? 255
                              : kind == 3 ? (x * y) % 256
                                          : (x + noise % 4) % 256;
            if (format == QImage::Format_Grayscale8) {
                image.scanLine(y)[x] = static_cast<uchar>(value);
            } else {
                image.setPixel(x, y, qRgb(value, (value + noise % 7) % 256, (255 - value) % 256));
            }
        }
    }
    return image;
}

} // namespace

TEST(PngEncoder, SameBytesAsQtsWriter) {
    std::vector<StepMetrics> history;
    for (int step = 0; step <= 300; ++step) {
        StepMetrics m;
        m.step = step;
        m.distance = 1.0 / (1.0 + step * 0.05);
        history.push_back(m);
    }
    std::vector<QImage> images = {convergencePlot(history, QStringLiteral("a run"), {120})};
    unsigned draw = 1;
    // Widths below, at and past a vector's 16 bytes; one row; a wide one.
    for (const auto &[width, height] :
         std::vector<std::pair<int, int>>{{2, 3}, {5, 17}, {6, 1}, {16, 9}, {37, 40}, {300, 31}}) {
        images.push_back(picture(QImage::Format_RGB32, width, height, draw++));
        images.push_back(picture(QImage::Format_Grayscale8, width, height, draw++));
    }
    QImage resolution = picture(QImage::Format_Grayscale8, 20, 20, draw++);
    resolution.setDotsPerMeterX(1000);
    resolution.setDotsPerMeterY(2000);
    images.push_back(resolution);
    // Qt's writer for the rest.
    images.push_back(picture(QImage::Format_RGB32, 1, 9, draw++));
    images.push_back(
        picture(QImage::Format_RGB32, 9, 9, draw++).convertToFormat(QImage::Format_ARGB32));
    for (const QImage &image : images) {
        QByteArray bytes;
        ASSERT_TRUE(pngBytes(image, &bytes));
        EXPECT_EQ(bytes, qtBytes(image))
            << image.width() << " x " << image.height() << " format " << image.format();
    }
}

TEST(PngEncoder, VectorFilterSearchAgreesWithThePlainOne) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t stride = trial % 2 ? 3 : 1;
        const std::size_t count = stride + random() % 90;
        std::vector<std::uint8_t> row(count);
        std::vector<std::uint8_t> previous(count);
        // Narrow ranges make near-ties between the filters common.
        const unsigned spread = 1u + random() % 256;
        for (std::size_t i = 0; i < count; ++i) {
            row[i] = static_cast<std::uint8_t>(random() % spread + (trial % 3) * 100);
            previous[i] = static_cast<std::uint8_t>(random() % spread);
        }
        EXPECT_EQ(pngRowFilter(row.data(), previous.data(), count, stride),
                  pngRowFilterPlain(row.data(), previous.data(), count, stride))
            << "trial " << trial;
    }
}
