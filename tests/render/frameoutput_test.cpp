#include "frameoutput.h"
#include "metrics.h"
#include "metricslog.h"
#include "smokeimage.h"

#include "runsetup.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

std::unique_ptr<Solver> smallRun() {
    Grid source(6, 6);
    Grid target(6, 6);
    for (std::uint32_t k = 0; k < 6; ++k) {
        source(k, k) = 0.9;
        target(k, 5 - k) = 0.5;
    }
    SimParameters p;
    p[kVf] = 1.0;
    p[kSigma] = 1.0;
    p[kDt] = 0.001;
    std::unique_ptr<Solver> solver = makeSolver(source, target, p);
    solver->step();
    return solver;
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QTemporaryDir &dir) {
    return QDir(dir.path()).entryList(QDir::Files, QDir::Name);
}

} // namespace

TEST(FrameWriter, GreyPngIsTodaysFrame) {
    QTemporaryDir dir;
    const std::unique_ptr<Solver> solver = smallRun();
    FrameWriter writer(dir.path(), FrameFormats());
    QImage video;
    QString error;
    ASSERT_TRUE(writer.write(*solver, 20, &video, &error)) << error.toStdString();
    EXPECT_EQ(filesIn(dir), QStringList{"frame_000020.png"});
    const QImage grey = densityImage(*solver->m_density);
    EXPECT_EQ(video, grey);
    QImage back;
    ASSERT_TRUE(back.load(dir.filePath("frame_000020.png")));
    EXPECT_EQ(back.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(back, grey);
}

TEST(FrameWriter, EveryFormatUnderThePatternsNames) {
    QTemporaryDir dir;
    const std::unique_ptr<Solver> solver = smallRun();
    FrameFormats formats;
    formats.alpha = true;
    formats.npy = true;
    formats.exr = true;
    formats.colour = *parseSmokeColour("ff0000");
    QString error;
    formats.names = *FrameNamePattern::parse("smoke.%04d", &error);
    const FrameWriter writer(dir.path(), formats);
    QImage video;
    ASSERT_TRUE(writer.write(*solver, 7, &video, &error)) << error.toStdString();
    const QStringList expected = {"density_0007.npy", "smoke.0007.exr", "smoke.0007.png",
                                  "u_0007.npy", "v_0007.npy"};
    EXPECT_EQ(filesIn(dir), expected);
    QStringList named = writer.fileNames(7);
    named.sort();
    EXPECT_EQ(named, expected);

    QImage rgba;
    ASSERT_TRUE(rgba.load(dir.filePath("smoke.0007.png")));
    EXPECT_TRUE(rgba.hasAlphaChannel());
    EXPECT_EQ(rgba.convertToFormat(QImage::Format_RGBA8888),
              smokeImage(*solver->m_density, formats.colour));
    EXPECT_EQ(video, overBlack(rgba));
    EXPECT_TRUE(contents(dir.filePath("smoke.0007.exr")).startsWith("\x76\x2f\x31\x01"));

    for (const QString &name : expected) {
        EXPECT_EQ(writer.stepOf(name), 7) << name.toStdString();
        EXPECT_TRUE(writer.isFrameFile(name));
    }
    // Files of an earlier render with the default names count as frames too;
    // anything else is left alone.
    EXPECT_TRUE(writer.isFrameFile("frame_000010.png"));
    EXPECT_TRUE(writer.isFrameFile("u_000010.npy"));
    EXPECT_FALSE(writer.stepOf("frame_000010.png").has_value());
    for (const char *other : {"smoke.7.png", "notes.txt", "smoke.0007.jpg", "w_0007.npy",
                              "density_0007.npy.part", "metrics.csv"}) {
        EXPECT_FALSE(writer.isFrameFile(other)) << other;
    }
}

TEST(FrameWriter, FailedWriteSaysWhichFile) {
    QTemporaryDir dir;
    const std::unique_ptr<Solver> solver = smallRun();
    FrameFormats formats;
    formats.exr = true;
    const FrameWriter writer(dir.filePath("missing-folder"), formats);
    QString error;
    EXPECT_FALSE(writer.write(*solver, 0, nullptr, &error));
    EXPECT_TRUE(error.contains("frame_000000.png")) << error.toStdString();
}

TEST(MetricsLog, ResumeCutsLaterLinesAndContinuesTheFile) {
    QTemporaryDir dir;
    const QString straightPath = dir.filePath("straight.csv");
    const QString resumedPath = dir.filePath("resumed.csv");
    auto row = [](int step) {
        StepMetrics m;
        m.step = step;
        m.distance = 1.0 / (1 + step);
        return m;
    };
    QString error;
    MetricsLog straight;
    ASSERT_TRUE(straight.create(straightPath, &error));
    MetricsLog first;
    ASSERT_TRUE(first.create(resumedPath, &error));
    std::uint64_t markBytes = 0;
    std::uint32_t markCrc = 0;
    for (int step = 0; step <= 30; ++step) {
        ASSERT_TRUE(straight.append(row(step)));
        if (step <= 25) { // the first run goes on past its last checkpoint, at 20
            ASSERT_TRUE(first.append(row(step)));
        }
        if (step == 20) {
            markBytes = first.bytes();
            markCrc = first.crc();
        }
    }
    ASSERT_TRUE(first.close());
    EXPECT_TRUE(checkMetricsPrefix(resumedPath, markBytes, markCrc, &error)) << error.toStdString();

    MetricsLog resumed;
    ASSERT_TRUE(resumed.resume(resumedPath, markBytes, markCrc, &error));
    for (int step = 21; step <= 30; ++step) {
        ASSERT_TRUE(resumed.append(row(step)));
    }
    EXPECT_EQ(resumed.crc(), straight.crc());
    ASSERT_TRUE(resumed.close());
    ASSERT_TRUE(straight.close());
    EXPECT_EQ(contents(resumedPath), contents(straightPath));
    EXPECT_EQ(straight.bytes(), static_cast<std::uint64_t>(contents(straightPath).size()));
}

TEST(MetricsLog, APrefixThatNoLongerMatchesIsNamed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("metrics.csv");
    MetricsLog log;
    QString error;
    ASSERT_TRUE(log.create(path, &error));
    ASSERT_TRUE(log.append(StepMetrics()));
    ASSERT_TRUE(log.close());

    EXPECT_FALSE(checkMetricsPrefix(path, log.bytes() + 1, log.crc(), &error));
    EXPECT_TRUE(error.contains("shorter than at the checkpoint")) << error.toStdString();
    EXPECT_FALSE(checkMetricsPrefix(path, log.bytes(), log.crc() ^ 1, &error));
    EXPECT_TRUE(error.contains("has changed")) << error.toStdString();
    EXPECT_FALSE(checkMetricsPrefix(dir.filePath("gone.csv"), 0, 0, &error));
    EXPECT_TRUE(error.contains("cannot be read")) << error.toStdString();
}
