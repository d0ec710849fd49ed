// EXR frames read back with the OpenEXR library: channels, types, size,
// orientation and values against the grids they came from.

#include "colourpicture.h"
#include "exrframe.h"

#include <QFile>
#include <QTemporaryDir>

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace velloran;

namespace {

struct ExrImage {
    int width = 0;
    int height = 0;
    Imf::Compression compression = Imf::NO_COMPRESSION;
    std::map<std::string, Imf::PixelType> types;
    std::map<std::string, std::vector<float>> values; // every channel as float, row 0 on top
};

ExrImage readExr(const QString &path) {
    Imf::InputFile file(QFile::encodeName(path).constData());
    ExrImage image;
    const Imath::Box2i window = file.header().dataWindow();
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.compression = file.header().compression();
    Imf::FrameBuffer frame;
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
    for (auto c = file.header().channels().begin(); c != file.header().channels().end(); ++c) {
        image.types[c.name()] = c.channel().type;
        std::vector<float> &values = image.values[c.name()];
        values.resize(count);
        // Read every channel as float; the library converts half exactly.
        frame.insert(c.name(), Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(values.data()),
                                          sizeof(float), sizeof(float) * image.width));
    }
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    return image;
}

class ExrFrame : public ::testing::Test {
protected:
    ExrFrame()
        : m_density(kN + 2, kN + 2)
        , m_u(kN + 2, kN + 2)
        , m_v(kN + 2, kN + 2) {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> values(-0.5, 1.5);
        for (std::uint32_t j = 0; j < kN + 2; ++j) {
            for (std::uint32_t i = 0; i < kN + 2; ++i) {
                m_density(i, j) = values(random);
                m_u(i, j) = values(random) * 3.0;
                m_v(i, j) = -values(random);
            }
        }
    }

    ExrImage writeAndRead(const SmokeColour &colour, const Grid *solid = nullptr) {
        return writeAndRead({m_density, m_u, m_v, solid, {}, nullptr}, colour);
    }

    ExrImage writeAndRead(const FrameFields &fields, const SmokeColour &colour) {
        QString error;
        const QByteArray bytes = exrBytes(fields, colour, &error);
        EXPECT_FALSE(bytes.isEmpty()) << error.toStdString();
        const QString path = m_dir.filePath(QStringLiteral("frame.exr"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        return readExr(path);
    }

    static constexpr std::uint32_t kN = 7;
    Grid m_density;
    Grid m_u;
    Grid m_v;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ExrFrame, ChannelsTypesSizeAndCompression) {
    const ExrImage image = writeAndRead(SmokeColour());
    EXPECT_EQ(image.width, static_cast<int>(kN));
    EXPECT_EQ(image.height, static_cast<int>(kN));
    EXPECT_EQ(image.compression, Imf::ZIP_COMPRESSION);
    const std::map<std::string, Imf::PixelType> expected = {
        {"R", Imf::HALF},          {"G", Imf::HALF},        {"B", Imf::HALF},
        {"A", Imf::HALF},          {"density", Imf::FLOAT}, {"velocity.u", Imf::FLOAT},
        {"velocity.v", Imf::FLOAT}};
    EXPECT_EQ(image.types, expected);

    // A run with obstacles adds their cells as one more float layer, upright.
    Grid solid(kN + 2, kN + 2);
    solid(1, kN) = 1.0; // the top-left cell
    const ExrImage withSolid = writeAndRead(SmokeColour(), &solid);
    EXPECT_EQ(withSolid.types.size(), expected.size() + 1);
    EXPECT_EQ(withSolid.types.at("solid"), Imf::FLOAT);
    const std::vector<float> &layer = withSolid.values.at("solid");
    EXPECT_EQ(layer.front(), 1.0f);
    EXPECT_EQ(std::count(layer.begin(), layer.end(), 1.0f), 1);
}

TEST_F(ExrFrame, ValuesUprightAndPremultiplied) {
    const SmokeColour colour = *parseSmokeColour("ff8000");
    const float green = linearFromSrgb(128);
    const ExrImage image = writeAndRead(colour);
    for (std::uint32_t y = 0; y < kN; ++y) {
        const std::uint32_t j = kN - y; // image line 0 is the top grid row
        for (std::uint32_t x = 0; x < kN; ++x) {
            const std::uint32_t i = x + 1;
            const std::size_t k = y * kN + x;
            const double rho = m_density(i, j);
            const float alpha = static_cast<float>(std::clamp(rho, 0.0, 1.0));
            EXPECT_EQ(image.values.at("A")[k], float(Imath::half(alpha))) << x << "," << y;
            EXPECT_EQ(image.values.at("R")[k], float(Imath::half(alpha)));
            EXPECT_EQ(image.values.at("G")[k], float(Imath::half(alpha * green)));
            EXPECT_EQ(image.values.at("B")[k], 0.0f);
            EXPECT_EQ(image.values.at("density")[k], static_cast<float>(rho));
            EXPECT_EQ(image.values.at("velocity.u")[k], static_cast<float>(m_u(i, j)));
            EXPECT_EQ(image.values.at("velocity.v")[k], static_cast<float>(m_v(i, j)));
        }
    }
}

TEST_F(ExrFrame, UnstableValuesStayInTheFloatLayersAndCoverNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    m_density(1, kN) = nan; // top left
    m_density(2, kN) = inf;
    m_density(3, kN) = 1e300; // finite, but beyond float
    m_u(1, kN) = -inf;
    m_v(2, kN) = nan;
    const ExrImage image = writeAndRead(SmokeColour());
    EXPECT_TRUE(std::isnan(image.values.at("density")[0]));
    EXPECT_EQ(image.values.at("density")[1], std::numeric_limits<float>::infinity());
    EXPECT_EQ(image.values.at("density")[2], std::numeric_limits<float>::infinity());
    EXPECT_EQ(image.values.at("velocity.u")[0], -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(image.values.at("velocity.v")[1]));
    for (const char *channel : {"R", "G", "B", "A"}) {
        EXPECT_EQ(image.values.at(channel)[0], 0.0f) << channel;
        EXPECT_EQ(image.values.at(channel)[1], 0.0f) << channel;
        EXPECT_EQ(image.values.at(channel)[2], 1.0f) << channel; // dense smoke, fully covered
    }
}

// A colour run's frame: its picture as RGBA, linear and premultiplied, and one
// density layer per field named by its colour, in place of "density".
TEST_F(ExrFrame, ColourRunsWriteTheirPictureAndALayerPerField) {
    Grid red(kN + 2, kN + 2);
    Grid blue(kN + 2, kN + 2);
    for (std::uint32_t j = 0; j < kN + 2; ++j) {
        for (std::uint32_t i = 0; i < kN + 2; ++i) {
            red(i, j) = 0.25;
            blue(i, j) = i == 1 ? 0.75 : 0.25;
        }
    }
    const ColourPicture picture{{SmokeColour{255, 0, 0}, SmokeColour{0, 0, 255}},
                                ColourMode::Light};
    const ExrImage image =
        writeAndRead({red, m_u, m_v, nullptr, {&red, &blue}, &picture}, SmokeColour());
    std::vector<std::string> names;
    for (const auto &[name, type] : image.types) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "G", "R", "density.0000ff",
                                               "density.ff0000", "velocity.u", "velocity.v"}));
    EXPECT_EQ(image.types.at("density.ff0000"), Imf::FLOAT);
    // Half red, half blue at alpha 0.5: each 0.5 * linear(0.5) = 0.107.
    const std::size_t middle = kN + 1;
    EXPECT_NEAR(image.values.at("R")[middle], 0.5 * 0.214041, 1e-3);
    EXPECT_EQ(image.values.at("G")[middle], 0.0f);
    EXPECT_NEAR(image.values.at("B")[middle], 0.5 * 0.214041, 1e-3);
    EXPECT_EQ(image.values.at("A")[middle], 0.5f);
    // The first column: a quarter red, three quarters blue, fully covered.
    EXPECT_EQ(image.values.at("A")[0], 1.0f);
    EXPECT_NEAR(image.values.at("R")[0], 0.050876, 1e-3); // linear(0.25)
    EXPECT_NEAR(image.values.at("B")[0], 0.522522, 1e-3); // linear(0.75)
    EXPECT_EQ(image.values.at("density.0000ff")[0], 0.75f);
}
