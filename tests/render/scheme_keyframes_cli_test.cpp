// The scheme and keyframes through the program: the metrics' substeps and
// target columns, keyframes beyond the run, and every refusal.

#include "clirun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using clirun::Result;
using clirun::run;

namespace {

class SchemeAndKeyframes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(clirun::disc(24, 8).save(path("src.png")));
        ASSERT_TRUE(clirun::disc(24, 5).save(path("tgt.png")));
        ASSERT_TRUE(clirun::disc(24, 3).save(path("second.png")));
        ASSERT_TRUE(clirun::disc(30, 3).save(path("larger.png")));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QStringList basic(const QString &out) const {
        return {"--source", path("src.png"),
                "--target", path("tgt.png"),
                "--sigma",  "1",
                "--dt",     "0.001",
                "--vf",     "1",
                "--vd",     "3",
                "--steps",  "20",
                "--every",  "10",
                "--out",    out,
                "--quiet"};
    }

    // The metrics rows as columns, header left out.
    QList<QList<QByteArray>> rows(const QString &out) const {
        QFile file(QDir(out).filePath("metrics.csv"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QList<QList<QByteArray>> result;
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        for (qsizetype k = 1; k < lines.size(); ++k) {
            result << lines[k].split(',');
        }
        return result;
    }

    void expectBadInput(const QStringList &extra, const QString &message) {
        const QString out = path("out-bad");
        clirun::expectRefused(basic(out) + extra, message, out);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SchemeAndKeyframes, SubstepsColumnFollowsTheScheme) {
    ASSERT_EQ(run(basic(path("literal"))).exitCode, 0);
    ASSERT_EQ(run(basic(path("sound")) + QStringList{"--scheme", "sound"}).exitCode, 0);
    const auto literal = rows(path("literal"));
    const auto sound = rows(path("sound"));
    ASSERT_EQ(literal.size(), 21);
    ASSERT_EQ(sound.size(), 21);
    EXPECT_EQ(literal[0][5], "0"); // no step before row 0
    EXPECT_EQ(sound[0][5], "0");
    for (int k = 1; k <= 20; ++k) {
        EXPECT_EQ(literal[k][5], "3") << k;
        EXPECT_GE(sound[k][5].toInt(), 3) << k;
    }
    EXPECT_NE(literal[20][1], sound[20][1]); // the schemes differ
}

TEST_F(SchemeAndKeyframes, TargetColumnAndKeyframesBeyondTheRun) {
    const QString cut = QStringLiteral("10:%1").arg(path("second.png"));
    ASSERT_EQ(run(basic(path("cut")) + QStringList{"--keyframe", cut}).exitCode, 0);
    const auto switched = rows(path("cut"));
    for (int k = 0; k <= 20; ++k) {
        EXPECT_EQ(switched[k][6], k <= 10 ? "0" : "1") << k;
    }
    // From step 11 the distance is to the second target: it jumps.
    EXPECT_GT(switched[11][1].toDouble(), switched[10][1].toDouble());

    // A keyframe after the last step is never reached: the run is the plain one.
    ASSERT_EQ(run(basic(path("plain"))).exitCode, 0);
    const QString late = QStringLiteral("500:%1").arg(path("second.png"));
    ASSERT_EQ(run(basic(path("late")) + QStringList{"--keyframe", late}).exitCode, 0);
    const auto plain = rows(path("plain"));
    const auto never = rows(path("late"));
    for (int k = 0; k <= 20; ++k) {
        EXPECT_EQ(never[k][1], plain[k][1]) << k;
        EXPECT_EQ(never[k][6], "0") << k;
    }
}

TEST_F(SchemeAndKeyframes, BadKeyframesAreRefused) {
    expectBadInput({"--keyframe", "10:" + path("missing.png")},
                   "Could not load the keyframe image");
    expectBadInput({"--keyframe", "10:" + path("larger.png")}, "is 30 x 30 pixels");
    expectBadInput(
        {"--keyframe", "10:" + path("second.png"), "--keyframe", "10:" + path("tgt.png")},
        "two keyframes at step 10");
    expectBadInput({"--keyframe", "10:" + path("second.png"), "--reverse"},
                   "cannot be started in reverse");
}
