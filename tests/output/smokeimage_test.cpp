#include "smokeimage.h"

#include <gtest/gtest.h>

#include <limits>

using namespace velloran;

TEST(SmokeColour, ParsesSixHexDigits) {
    const auto orange = parseSmokeColour("ff8000");
    ASSERT_TRUE(orange.has_value());
    EXPECT_EQ(orange->red, 255);
    EXPECT_EQ(orange->green, 128);
    EXPECT_EQ(orange->blue, 0);
    EXPECT_EQ(parseSmokeColour("#FF8000"), orange);
    EXPECT_EQ(orange->hex(), "ff8000");
    EXPECT_EQ(parseSmokeColour("0a0B0c")->hex(), "0a0b0c");
    EXPECT_EQ(SmokeColour().hex(), "ffffff");
    for (const char *bad :
         {"", "#", "fff", "ff80000", "0xff80", "gg0000", " ff800", "+f8000", "ff 800", "##ff8000",
          "\xef\xbc\x91"
          "23456"}) {
        EXPECT_FALSE(parseSmokeColour(QString::fromUtf8(bad)).has_value()) << bad;
    }
}

TEST(SmokeColour, LinearLightAndCoverage) {
    EXPECT_EQ(linearFromSrgb(0), 0.0f);
    EXPECT_EQ(linearFromSrgb(255), 1.0f);
    EXPECT_NEAR(linearFromSrgb(128), 0.2158605, 1e-6);
    EXPECT_NEAR(linearFromSrgb(10), 10 / 255.0 / 12.92, 1e-7);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(smokeCoverage(0.25), 0.25);
    EXPECT_EQ(smokeCoverage(-0.5), 0.0);
    EXPECT_EQ(smokeCoverage(7.0), 1.0);
    EXPECT_EQ(smokeCoverage(inf), 0.0);
    EXPECT_EQ(smokeCoverage(-inf), 0.0);
    EXPECT_EQ(smokeCoverage(std::numeric_limits<double>::quiet_NaN()), 0.0);
}

TEST(SmokeImage, StraightAlphaUprightInTheSmokeColour) {
    Grid density(4, 4);   // N = 2
    density(1, 1) = 0.5;  // bottom left
    density(2, 1) = 2.0;  // bottom right
    density(1, 2) = -1.0; // top left
    density(2, 2) = std::numeric_limits<double>::quiet_NaN();
    density(0, 0) = 1.0; // the frame is not drawn
    const SmokeColour colour = *parseSmokeColour("204060");
    const QImage image = smokeImage(density, colour);
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_FALSE(image.hasAlphaChannel() &&
                 image.format() == QImage::Format_RGBA8888_Premultiplied);
    const QRgb bottomLeft = image.pixel(0, 1);
    EXPECT_EQ(qAlpha(bottomLeft), 128);
    EXPECT_EQ(qRed(bottomLeft), 0x20); // straight: the colour is not scaled by alpha
    EXPECT_EQ(qGreen(bottomLeft), 0x40);
    EXPECT_EQ(qBlue(bottomLeft), 0x60);
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);

    const QImage flat = overBlack(image);
    EXPECT_FALSE(flat.hasAlphaChannel());
    EXPECT_EQ(flat.pixel(0, 1), qRgb(0x10, 0x20, 0x30)); // half covered, over black
    EXPECT_EQ(flat.pixel(1, 1), qRgb(0x20, 0x40, 0x60));
    EXPECT_EQ(flat.pixel(0, 0), qRgb(0, 0, 0));
}
