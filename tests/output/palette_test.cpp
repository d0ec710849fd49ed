// Colour targets split by a palette: finding it, the coverage of each pixel,
// and a colour run's fields from a colour or a grey source.

#include "colourfields.h"
#include "palette.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace velloran {
namespace {

constexpr int kSide = 24;
const QRgb kPlate = qRgb(10, 12, 14);
const QRgb kRed = qRgb(224, 48, 32);
const QRgb kBlue = qRgb(32, 160, 224);
const QRgb kYellow = qRgb(240, 200, 40);

QRgb blend(QRgb c, QRgb b, double t) {
    const auto mix = [t](int x, int y) { return static_cast<int>(std::lround(y + t * (x - y))); };
    return qRgb(mix(qRed(c), qRed(b)), mix(qGreen(c), qGreen(b)), mix(qBlue(c), qBlue(b)));
}

// Three blocks of decreasing size on the plate, with half-covered edges and a
// little noise around the flat red.
QImage threeColours() {
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(kPlate);
    for (int y = 2; y < 12; ++y) {
        for (int x = 2; x < 12; ++x) {
            image.setPixel(x, y, (x + y) % 5 == 0 ? qRgb(226, 46, 33) : kRed);
        }
        image.setPixel(12, y, blend(kRed, kPlate, 0.5));
    }
    for (int y = 14; y < 22; ++y) {
        for (int x = 2; x < 10; ++x) {
            image.setPixel(x, y, kBlue);
        }
        image.setPixel(10, y, blend(kBlue, kPlate, 0.25));
    }
    for (int y = 14; y < 20; ++y) {
        for (int x = 14; x < 20; ++x) {
            image.setPixel(x, y, kYellow);
        }
    }
    return image;
}

std::vector<QRgb> rgbs(const Palette &palette) {
    std::vector<QRgb> out;
    for (const SmokeColour &c : palette.colours) {
        out.push_back(qRgb(c.red, c.green, c.blue));
    }
    return out;
}

double mass(const Grid &g) {
    double m = 0.0;
    for (std::uint32_t i = 0; i < g.NumCols(); ++i) {
        for (std::uint32_t j = 0; j < g.NumRows(); ++j) {
            m += g(i, j);
        }
    }
    return m;
}

TEST(Palette, FoundByCountsAloneWhereverThePixelsLie) {
    const QImage image = threeColours();
    Palette found;
    QString error;
    ASSERT_TRUE(findPalette(image, PaletteRequest{}, &found, &error)) << error.toStdString();
    EXPECT_EQ(found.background, (SmokeColour{10, 12, 14}));
    // The red's noise is averaged in: 80 of 100 pixels at 224, 20 at 226.
    EXPECT_EQ(rgbs(found), (std::vector<QRgb>{qRgb(224, 48, 32), kBlue, kYellow}));
    ASSERT_TRUE(findPalette(image, PaletteRequest{{}, 2}, &found, &error));
    EXPECT_EQ(rgbs(found).size(), 2u);
    EXPECT_FALSE(findPalette(image, PaletteRequest{{}, 4}, &found, &error));
    EXPECT_EQ(error, "the target has 3 colours besides its background #0a0c0e, not 4");

    // The same pixels shuffled: the same palette and the same mass per field.
    const Palette before = found;
    ASSERT_TRUE(findPalette(image, PaletteRequest{}, &found, &error));
    const std::vector<Grid> fields = paletteDensities(image, found, kSide);
    std::vector<QRgb> pixels;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            pixels.push_back(image.pixel(x, y));
        }
    }
    std::mt19937 random(7);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(pixels.begin(), pixels.end(), random);
        QImage shuffled(kSide, kSide, QImage::Format_RGB32);
        for (int k = 0; k < kSide * kSide; ++k) {
            shuffled.setPixel(k % kSide, k / kSide, pixels[static_cast<std::size_t>(k)]);
        }
        Palette again;
        ASSERT_TRUE(findPalette(shuffled, PaletteRequest{}, &again, &error));
        EXPECT_EQ(rgbs(again), rgbs(found));
        EXPECT_EQ(again.background, found.background);
        const std::vector<Grid> moved = paletteDensities(shuffled, again, kSide);
        for (std::size_t f = 0; f < fields.size(); ++f) {
            EXPECT_NEAR(mass(moved[f]), mass(fields[f]), 1e-9);
        }
    }
}

TEST(Palette, PixelsSplitIntoCoverageOfTheirNearestColour) {
    const QImage image = threeColours();
    Palette palette;
    QString error;
    ASSERT_TRUE(findPalette(image, PaletteRequest{}, &palette, &error));
    const std::vector<Grid> fields = paletteDensities(image, palette, kSide);
    ASSERT_EQ(fields.size(), 3u);
    const auto cell = [](int x, int y) {
        return std::pair<std::uint32_t, std::uint32_t>(x, kSide - 1 - y);
    };
    const auto at = [&](std::size_t f, int x, int y) {
        const auto [i, j] = cell(x, y);
        return fields[f](i, j);
    };
    EXPECT_EQ(at(0, 3, 3), 1.0); // flat red, top-left block, upside down in the grid
    EXPECT_EQ(at(1, 3, 3), 0.0);
    EXPECT_EQ(at(0, 0, 0), 0.0); // the plate
    EXPECT_NEAR(at(0, 12, 5), 0.5, 0.01);
    EXPECT_NEAR(at(1, 10, 15), 0.25, 0.01);
    EXPECT_EQ(at(2, 15, 15), 1.0);
    EXPECT_EQ(at(0, 15, 15), 0.0);
}

TEST(Palette, RequestsAndGivenColoursAreChecked) {
    PaletteRequest request;
    QString error;
    ASSERT_TRUE(parsePaletteRequest(" #E03020,20a0e0 ", &request, &error));
    EXPECT_EQ(paletteRequestText(request), "#e03020,#20a0e0");
    ASSERT_TRUE(parsePaletteRequest("auto", &request, &error));
    EXPECT_EQ(paletteRequestText(request), "auto");
    ASSERT_TRUE(parsePaletteRequest("8", &request, &error));
    EXPECT_EQ(request.count, 8);
    const struct {
        const char *text;
        const char *message;
    } bad[] = {
        {"0", "1 to 8 colours, not 0"},
        {"9", "1 to 8 colours, not 9"},
        {"#e03020,#e03020", "the palette has #e03020 twice"},
        {"#e0302", "'#e0302' is not a colour"},
        {"#e03020,", "'' is not a colour"},
        {"1,2,3,4,5,6,7,8,9", "1 to 8 colours, not 9"},
    };
    for (const auto &b : bad) {
        EXPECT_FALSE(parsePaletteRequest(b.text, &request, &error)) << b.text;
        EXPECT_TRUE(error.contains(QLatin1String(b.message))) << error.toStdString();
    }

    Palette palette;
    const QImage image = threeColours();
    ASSERT_TRUE(
        findPalette(image, PaletteRequest{{SmokeColour{230, 50, 30}}, 0}, &palette, &error));
    EXPECT_FALSE(
        findPalette(image, PaletteRequest{{SmokeColour{10, 12, 14}}, 0}, &palette, &error));
    EXPECT_EQ(error, "the palette colour #0a0c0e is the target's background");
    EXPECT_FALSE(findPalette(image, PaletteRequest{{SmokeColour{0, 255, 0}}, 0}, &palette, &error));
    EXPECT_TRUE(error.startsWith("the palette colour #00ff00 is not in the target"));
}

TEST(Palette, SourcesAreSplitOrSharedAndSizesMustAgree) {
    const QImage target = threeColours();
    QImage grey(kSide, kSide, QImage::Format_Grayscale8);
    grey.fill(51); // density 0.2 everywhere
    ColourFields fields;
    QString error;
    ASSERT_TRUE(colourFieldsFromImages(grey, target, PaletteRequest{}, &fields, &error));
    ASSERT_EQ(fields.fields.size(), 3u);
    double targetMass = 0.0;
    for (const RunDensities &f : fields.fields) {
        targetMass += mass(f.tgtDensity);
    }
    for (const RunDensities &f : fields.fields) {
        // Each field's share of the grey smoke is its share of the target.
        EXPECT_NEAR(mass(f.srcDensity) / (0.2 * kSide * kSide), mass(f.tgtDensity) / targetMass,
                    1e-12);
    }
    // A colour source is split like the target: here the target itself.
    ASSERT_TRUE(colourFieldsFromImages(target, target, PaletteRequest{}, &fields, &error));
    EXPECT_EQ(mass(fields.fields[1].srcDensity), mass(fields.fields[1].tgtDensity));

    QImage noYellow = target;
    for (int y = 14; y < 20; ++y) {
        for (int x = 14; x < 20; ++x) {
            noYellow.setPixel(x, y, kPlate);
        }
    }
    EXPECT_FALSE(colourFieldsFromImages(noYellow, target, PaletteRequest{}, &fields, &error));
    EXPECT_EQ(error, "the source image has no smoke of the palette colour #f0c828");
    EXPECT_FALSE(colourFieldsFromImages(grey.scaled(kSide + 2, kSide + 2), target, PaletteRequest{},
                                        &fields, &error));
    EXPECT_EQ(error, "the source image is 26 x 26 pixels and the colour target 24 x 24; a palette "
                     "run needs both of one size");
    EXPECT_FALSE(colourFieldsFromImages(grey.copy(0, 0, kSide, kSide - 1), target, PaletteRequest{},
                                        &fields, &error));
    EXPECT_TRUE(error.startsWith("The source image must be square."));
}

} // namespace
} // namespace velloran
