#include "metrics.h"

#include "runsetup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace velloran;

TEST(Metrics, CsvRowsKeepTheirColumnsAndDigits) {
    StepMetrics m;
    m.step = 7;
    m.distance = 2.0;
    m.mass = 1.0;
    m.maxSpeed = 5.0;
    m.seconds = 1.5;
    m.substeps = 3;
    m.target = 1;
    m.advected = 0.25;
    m.gathered = 0.125;
    EXPECT_EQ(metricsCsvLine(m), "7,2,1,5,1.500,3,1,0.25,0.125");
    m.distance = 0.1234567890123;
    m.seconds = 12.3456;
    EXPECT_EQ(metricsCsvLine(m), "7,0.123456789,1,5,12.346,3,1,0.25,0.125");
    // The printing rules of every earlier run's files: a half at the tenth
    // digit rounds away from zero, no "-0", non-finite values by name.
    m.distance = 123456789.25;
    m.mass = -0.0;
    m.maxSpeed = std::numeric_limits<double>::quiet_NaN();
    m.seconds = 0.0625;
    m.advected = -std::numeric_limits<double>::infinity();
    m.gathered = 1.5e-5;
    m.fieldDistances = {12345678905.0, 1e-300};
    m.colourError = 0.5;
    EXPECT_EQ(metricsCsvLine(m),
              "7,123456789.3,0,nan,0.063,3,1,-inf,1.5e-05,1.234567891e+10,1e-300,0.5");
    EXPECT_EQ(metricsCsvHeader(),
              "step,distance,mass,max_speed,seconds,substeps,target,advected,gathered");
}

TEST(Metrics, FrameImageIsUprightAndClamped) {
    Grid density(5, 5);   // N = 3
    density(1, 3) = 1.0;  // top-left of the interior
    density(3, 1) = 2.0;  // bottom-right, above 1
    density(2, 2) = -1.0; // below 0
    density(1, 1) = 128 / 255.0;
    density(2, 3) = std::numeric_limits<double>::quiet_NaN();
    density(0, 0) = 1.0; // frame: not drawn
    const QImage image = densityImage(density);
    ASSERT_EQ(image.size(), QSize(3, 3));
    EXPECT_EQ(image.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(image.pixelColor(0, 0).blue(), 255);
    EXPECT_EQ(image.pixelColor(2, 2).blue(), 255);
    EXPECT_EQ(image.pixelColor(1, 1).blue(), 0);
    EXPECT_EQ(image.pixelColor(0, 2).blue(), 128);
    EXPECT_EQ(image.pixelColor(1, 0).blue(), 0);

    // Through the run set-up and back: an input image comes out as it went in,
    // square or not (contact sheets are wider than tall).
    for (const QSize size : {QSize(4, 4), QSize(5, 2)}) {
        QImage input(size, QImage::Format_Grayscale8);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                input.scanLine(y)[x] = static_cast<uchar>(12 * (size.width() * y + x));
            }
        }
        const auto width = static_cast<std::uint32_t>(size.width());
        const auto height = static_cast<std::uint32_t>(size.height());
        const Grid grid = densityFromImage(input, size.width(), size.height());
        Grid framed(height + 2, width + 2);
        for (std::uint32_t i = 0; i < width; ++i) {
            for (std::uint32_t j = 0; j < height; ++j) {
                framed(i + 1, j + 1) = grid(i, j);
            }
        }
        EXPECT_EQ(densityImage(framed), input) << size.width() << " x " << size.height();
    }
}

TEST(Metrics, PlotIsDrawnWithoutNonFinitePoints) {
    std::vector<StepMetrics> history;
    for (int step = 0; step <= 100; ++step) {
        StepMetrics m;
        m.step = step;
        m.distance = 1.0 - step / 200.0;
        history.push_back(m);
    }
    history.back().distance = std::numeric_limits<double>::quiet_NaN();
    const QImage plot = convergencePlot(history, "test");
    ASSERT_FALSE(plot.isNull());
    // Something other than white was drawn inside the plot area.
    int coloured = 0;
    for (int y = 60; y < plot.height() - 70; ++y) {
        for (int x = 90; x < plot.width() - 40; ++x) {
            const QColor c = plot.pixelColor(x, y);
            coloured += c.blue() > c.red() + 60 ? 1 : 0;
        }
    }
    EXPECT_GT(coloured, 200);
    EXPECT_FALSE(convergencePlot({}, "empty").isNull());

    // A keyframe at step 50 draws an orange line across the plot there; one
    // beyond the last step draws nothing.
    auto orange = [](const QImage &image, int x) {
        int count = 0;
        for (int y = 60; y < image.height() - 70; ++y) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() > 100 && c.green() < 180 && c.blue() < 100;
        }
        return count;
    };
    const QImage marked = convergencePlot(history, "test", {50, 1000});
    const int lineX = 80 + (800 - 110) / 2; // step 50 of 100, halfway along the axis
    EXPECT_GT(orange(marked, lineX) + orange(marked, lineX + 1), 100);
    EXPECT_EQ(orange(plot, lineX) + orange(plot, lineX + 1), 0);
    EXPECT_EQ(convergencePlot(history, "test", {1000}), plot);
}
