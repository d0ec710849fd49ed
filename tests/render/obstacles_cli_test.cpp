// Obstacles through the program: where they come from, what refuses them,
// the files that carry them and a resume that must find the same image.

#include "clirun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using clirun::Result;
using clirun::run;

namespace {

constexpr int kSide = 24;

// A grey picture of the run's size, white where `inside` holds.
QImage picture(const std::function<bool(int, int)> &inside) {
    QImage image = clirun::filled(kSide, kSide, 0);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            image.scanLine(y)[x] = inside(x, y) ? 255 : 0;
        }
    }
    return image;
}

class ObstaclesCli : public ::testing::Test {
protected:
    void SetUp() override {
        // Smoke on the left, its target on the right, a wall between them
        // with a gap in the middle.
        ASSERT_TRUE(
            picture([](int x, int y) { return x < 6 && y > 8 && y < 16; }).save(path("src.png")));
        ASSERT_TRUE(
            picture([](int x, int y) { return x > 17 && y > 8 && y < 16; }).save(path("tgt.png")));
        ASSERT_TRUE(picture([](int x, int y) {
                        return x >= 11 && x <= 12 && (y < 10 || y > 13);
                    }).save(path("wall.png")));
        ASSERT_TRUE(
            picture([](int x, int) { return x >= 11 && x <= 12; }).save(path("closed.png")));
        ASSERT_TRUE(picture([](int x, int) { return x > 15; }).save(path("cover.png")));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QStringList basic(const QString &out, const char *scheme = "sound") const {
        return {"--source", path("src.png"),
                "--target", path("tgt.png"),
                "--scheme", scheme,
                "--vf",     "2",
                "--vd",     "30",
                "--vg",     "0.15",
                "--sigma",  "1",
                "--dt",     "0.001",
                "--steps",  "20",
                "--every",  "10",
                "--out",    out,
                "--quiet"};
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ObstaclesCli, RefusalsNameTheProblemAndWriteNothing) {
    const QString out = path("out-bad");
    const std::pair<QStringList, QString> cases[] = {
        {basic(out, "literal") + QStringList{"--obstacles", path("wall.png")},
         "obstacles need the sound scheme"},
        {basic(out) + QStringList{"--obstacles", path("missing.png")},
         "could not load obstacle image"},
        {basic(out) + QStringList{"--obstacles", m_dir.path()}, "could not load obstacle image"},
        {basic(out) + QStringList{"--obstacles", path("closed.png")},
         "the target has smoke in a region the source cannot reach"},
        {basic(out) + QStringList{"--obstacles", path("cover.png")}, "inside the obstacles"},
        {basic(out) + QStringList{"--obstacles", ""}, "--obstacles"},
    };
    for (const auto &[arguments, message] : cases) {
        clirun::expectRefused(arguments, message, out);
    }
}

// The file's relative path is taken from where the program starts, like the
// images'; --obstacles overrides it. The summary names the image and its
// solid cells, and the frames carry them.
TEST_F(ObstaclesCli, FromTheFileOrTheOptionIntoTheSummaryAndTheFrames) {
    QFile config(path("run.xml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<configuration><images><source>src.png</source><target>tgt.png</target>"
                 "</images><scheme>sound</scheme><obstacles>wall.png</obstacles></configuration>");
    config.close();
    const QStringList common = {"run.xml", "--steps", "10", "--every", "10", "--quiet"};

    const Result fromFile =
        run(common + QStringList{"--out", "a", "--format", "npy"}, m_dir.path());
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err.toStdString();
    // Two columns of 24 cells less the gap of four.
    EXPECT_TRUE(fromFile.out.contains("obstacles: 'wall.png' (40 of 24 x 24 cells solid)"))
        << fromFile.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("a/solid_000010.npy")));

    const Result fromOption =
        run(common + QStringList{"--out", "b", "--obstacles", "closed.png"}, m_dir.path());
    EXPECT_EQ(fromOption.exitCode, 2);
    EXPECT_TRUE(fromOption.err.contains("'closed.png'")) << fromOption.err.toStdString();
}

// The checkpoint records the obstacle image by content: a changed image
// refuses the resume, the same one lets it go on.
TEST_F(ObstaclesCli, AResumeNeedsTheSameObstacleImage) {
    const QString out = path("out");
    const Result first =
        run(basic(out) + QStringList{"--obstacles", path("wall.png"), "--checkpoint-every", "10"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QString wall = path("wall.png");
    const QString kept = path("wall-kept.png");
    ASSERT_TRUE(QFile::rename(wall, kept));
    ASSERT_TRUE(picture([](int x, int y) { return x == 11 && y < 10; }).save(wall));
    clirun::expectRefused({"--resume", out, "--steps", "30", "--quiet"}, "the obstacle image",
                          path("never-made"));
    ASSERT_TRUE(QFile::remove(wall));
    ASSERT_TRUE(QFile::rename(kept, wall));
    const Result resumed = run({"--resume", out, "--steps", "30", "--quiet"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err.toStdString();
    EXPECT_TRUE(resumed.out.contains("obstacles:")) << resumed.out.toStdString();
}
