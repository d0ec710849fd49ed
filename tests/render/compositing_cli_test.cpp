// Compositing outputs through the program: EXR and RGBA frames under a name
// pattern, read back and checked against the raw fields of the same run.

#include "clirun.h"
#include "npy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using clirun::Result;
using clirun::run;

namespace {

constexpr int kSide = 20;

class Compositing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(clirun::disc(kSide, 7).save(path("src.png")));
        ASSERT_TRUE(clirun::disc(kSide, 4).save(path("tgt.png")));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QStringList basic(const QString &out) const {
        return {
            "--source", path("src.png"), "--target", path("tgt.png"), "--sigma", "1",     "--dt",
            "0.002",    "--vf",          "2",        "--vd",          "3",       "--out", out,
            "--quiet"};
    }

    void expectBadInput(const QStringList &extra, const QString &message) {
        const QString out = path("out-bad");
        clirun::expectRefused(basic(out) + extra, message, out);
    }

    QTemporaryDir m_dir;
};

Grid readNpy(const QString &path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return velloran::parseNpy(file.readAll()).value_or(Grid(1, 1));
}

// One channel of an EXR file as floats, image row 0 on top.
std::vector<float> exrChannel(Imf::InputFile &file, const char *name) {
    const Imath::Box2i window = file.header().dataWindow();
    const int width = window.max.x - window.min.x + 1;
    const int height = window.max.y - window.min.y + 1;
    std::vector<float> values(static_cast<std::size_t>(width) * height);
    Imf::FrameBuffer frame;
    frame.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(values.data()),
                                  sizeof(float), sizeof(float) * width));
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    return values;
}

} // namespace

TEST_F(Compositing, ExrAndRgbaFramesMatchTheFieldsOfTheirStep) {
    const QString out = path("o");
    const Result r = run(basic(out) + QStringList{"--steps", "10", "--every", "5", "--format",
                                                  "png,npy,exr", "--alpha", "--smoke-colour",
                                                  "ff8000", "--name", "smoke.%04d"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const char *number : {"0000", "0005", "0010"}) {
        const QDir dir(out);
        const Grid density = readNpy(dir.filePath(QStringLiteral("density_%1.npy").arg(number)));
        const Grid u = readNpy(dir.filePath(QStringLiteral("u_%1.npy").arg(number)));
        const Grid v = readNpy(dir.filePath(QStringLiteral("v_%1.npy").arg(number)));
        ASSERT_EQ(density.NumCols(), static_cast<std::uint32_t>(kSide + 2));

        const QString exrPath = dir.filePath(QStringLiteral("smoke.%1.exr").arg(number));
        Imf::InputFile exr(QFile::encodeName(exrPath).constData());
        EXPECT_EQ(exr.header().compression(), Imf::ZIP_COMPRESSION);
        const std::vector<float> alpha = exrChannel(exr, "A");
        const std::vector<float> red = exrChannel(exr, "R");
        const std::vector<float> rho = exrChannel(exr, "density");
        const std::vector<float> uc = exrChannel(exr, "velocity.u");
        const std::vector<float> vc = exrChannel(exr, "velocity.v");
        ASSERT_EQ(rho.size(), static_cast<std::size_t>(kSide * kSide));

        const QImage rgba(dir.filePath(QStringLiteral("smoke.%1.png").arg(number)));
        ASSERT_TRUE(rgba.hasAlphaChannel()) << number;
        bool sawSmoke = false;
        for (int y = 0; y < kSide; ++y) {
            const auto j = static_cast<std::uint32_t>(kSide - y);
            for (int x = 0; x < kSide; ++x) {
                const auto i = static_cast<std::uint32_t>(x + 1);
                const std::size_t k = static_cast<std::size_t>(y * kSide + x);
                const double coverage = std::clamp(density(i, j), 0.0, 1.0);
                sawSmoke = sawSmoke || coverage > 0.1;
                EXPECT_EQ(rho[k], static_cast<float>(density(i, j)));
                EXPECT_EQ(uc[k], static_cast<float>(u(i, j)));
                EXPECT_EQ(vc[k], static_cast<float>(v(i, j)));
                EXPECT_EQ(alpha[k], float(Imath::half(static_cast<float>(coverage))));
                EXPECT_EQ(red[k], alpha[k]); // ff: full red, premultiplied
                const QRgb pixel = rgba.pixel(x, y);
                EXPECT_EQ(qAlpha(pixel), std::lround(coverage * 255)) << x << "," << y;
                if (qAlpha(pixel) > 0) {
                    EXPECT_EQ(qRed(pixel), 0xff);
                    EXPECT_EQ(qGreen(pixel), 0x80);
                }
            }
        }
        EXPECT_TRUE(sawSmoke) << number;
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(out).filePath("frame_000000.png")));
}

TEST_F(Compositing, EarlierFramesUnderThePatternAreReplaced) {
    const QString out = path("again");
    ASSERT_TRUE(QDir().mkpath(out));
    for (const char *name :
         {"smoke.0100.exr", "frame_000900.png", "checkpoint.vlck", "smoke.100.exr", "notes.txt"}) {
        QFile file(QDir(out).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const Result r =
        run(basic(out) + QStringList{"--steps", "2", "--format", "exr", "--name", "smoke.%04d"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("removed 3 file(s) of an earlier render")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("smoke.100.exr"))); // not of this pattern
    EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("notes.txt")));
    EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("smoke.0002.exr")));
    EXPECT_FALSE(QFileInfo::exists(QDir(out).filePath("checkpoint.vlck")));
}

// With --alpha the video shows the coloured smoke over black.
TEST_F(Compositing, VideoOfRgbaFramesIsColourOverBlack) {
    const QString bin = path("bin");
    const QProcessEnvironment environment = clirun::recordingFfmpeg(bin);

    const QString video = path("movie.mp4");
    const Result r =
        run(basic(path("ov")) + QStringList{"--steps", "4", "--every", "2", "--alpha",
                                            "--smoke-colour", "ff0000", "--video", video},
            QString(), environment);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile raw(video);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray frames = raw.readAll();
    ASSERT_EQ(frames.size(), 3 * kSide * kSide * 3); // frames 0, 2, 4 as RGB
    const QImage first(path("ov/frame_000000.png"));
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const auto *pixel =
                reinterpret_cast<const uchar *>(frames.constData()) + 3 * (y * kSide + x);
            EXPECT_EQ(pixel[0], (0xff * qAlpha(first.pixel(x, y)) + 127) / 255);
            EXPECT_EQ(pixel[1], 0);
        }
    }
    QFile args(bin + "/args");
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_TRUE(args.readAll().contains("-pix_fmt rgb24 -s 20x20"));
}
