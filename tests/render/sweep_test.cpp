#include "options.h"
#include "sweepfile.h"
#include "sweepsummary.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

QString writeFile(const QString &path, const QByteArray &text) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return path;
}

QString loadError(const QByteArray &json) {
    QTemporaryDir dir;
    std::vector<SweepRun> runs;
    QString error;
    EXPECT_FALSE(loadSweep(writeFile(dir.filePath("s.json"), json), &runs, &error));
    return error;
}

} // namespace

TEST(Sweep, FileRunsBecomeTheRenderersArguments) {
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("s.json"), R"({"velloran_sweep": 1, "runs": [
        {"index": 0, "name": "vg=0.03", "axes": ["vg"], "config": "-odd.xml", "vg": 0.03,
         "steps": 500, "reverse": false, "alpha": true, "format": ["png", "npy"],
         "keyframes": [[800, "b.png", 200], "900:c.png"]}]})");
    std::vector<SweepRun> runs;
    QString error;
    ASSERT_TRUE(loadSweep(path, &runs, &error)) << error.toStdString();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].axes, QStringList{"vg"});
    QStringList arguments;
    ASSERT_TRUE(sweepRunArguments(runs[0], &arguments, &error)) << error.toStdString();
    EXPECT_EQ(arguments,
              (QStringList{"--keyframe", "800:b.png:200", "--keyframe", "900:c.png", "--vg", "0.03",
                           "--steps", "500", "--format", "png,npy", "--alpha", "--", "-odd.xml"}));
    RenderOptions options;
    EXPECT_TRUE(parseRenderOptions(arguments, &options, &error)) << error.toStdString();
    EXPECT_EQ(options.configPath, "-odd.xml");

    // A colour run's fields, palette, mode and field keyframes.
    runs[0].options = QJsonObject{
        {"field", QJsonArray{QJsonArray{"#e03020", "a.png", "b.png"}, "20a0e0:b.png:a.png"}},
        {"colour_mode", "dark"},
        {"keyframes", QJsonArray{QJsonArray{"#e03020", 800, "b.png", 20}}}};
    ASSERT_TRUE(sweepRunArguments(runs[0], &arguments, &error)) << error.toStdString();
    EXPECT_EQ(arguments,
              (QStringList{"--keyframe", "#e03020:800:b.png:20", "--field", "#e03020:a.png:b.png",
                           "--field", "20a0e0:b.png:a.png", "--colour-mode", "dark"}));
    EXPECT_TRUE(parseRenderOptions(arguments, &options, &error)) << error.toStdString();
    runs[0].options = QJsonObject{{"palette", 3}};
    ASSERT_TRUE(sweepRunArguments(runs[0], &arguments, &error));
    EXPECT_EQ(arguments, (QStringList{"--palette", "3"}));

    runs[0].options.insert("steps", 2.5);
    EXPECT_FALSE(sweepRunArguments(runs[0], &arguments, &error));
    EXPECT_EQ(error, "run 0 ('vg=0.03'): 'steps' needs a whole number");
}

TEST(Sweep, FilesThatCannotBeRunAreRefused) {
    EXPECT_TRUE(loadError("[1, 2]").contains("is not a sweep file"));
    EXPECT_TRUE(loadError(R"({"velloran_sweep": 2, "runs": []})").contains("another version"));
    EXPECT_TRUE(loadError(R"({"velloran_sweep": 1, "runs": [{"index": 1, "name": "a"}]})")
                    .contains("run 0 must be an object with \"index\": 0"));
    for (const char *name : {"../up", ".hidden", "a b", ""}) {
        const QByteArray json =
            QByteArray(R"({"velloran_sweep": 1, "runs": [{"index": 0, "name": ")") + name + "\"}]}";
        EXPECT_TRUE(loadError(json).contains("that can be a folder name")) << name;
    }
    EXPECT_TRUE(loadError(R"({"velloran_sweep": 1, "runs": [{"index": 0, "name": "a"},
                                                         {"index": 1, "name": "a"}]})")
                    .contains("two runs are named 'a'"));
    EXPECT_TRUE(
        loadError(R"({"velloran_sweep": 1, "runs": [{"index": 0, "name": "a", "out": "x"}]})")
            .contains("unknown option 'out'"));
}

TEST(Sweep, SummaryReadsTheMetricsByColumnName) {
    QTemporaryDir dir;
    writeFile(dir.filePath("run.json"), R"({"status": "ok", "seconds": 2.5})");
    // Columns a later version adds (the flow's share of the smoke's change) are
    // used when present.
    writeFile(dir.filePath("metrics.csv"),
              "step,distance,mass,max_speed,seconds,substeps,target,advected,gathered\n"
              "0,0.9,1,0,0,0,0,0,0\n"
              "1,0.5,1,1,0.5,3,0,3,1\n"
              "2,nan,1,1,0.8,3,0,1,0\n"
              "3,0.7,1,1,1.5,3,0,2,1\n");
    SweepRunSummary s = summariseSweepRun(dir.path());
    EXPECT_EQ(s.status, "ok");
    EXPECT_EQ(s.bestDistance, "0.5");
    EXPECT_EQ(s.bestStep, 1);
    EXPECT_EQ(s.lastDistance, "0.7");
    EXPECT_EQ(s.lastStep, 3);
    EXPECT_DOUBLE_EQ(s.flowShare, 6.0 / 8.0);
    EXPECT_DOUBLE_EQ(s.stepsPerSecond, 2.0);
    EXPECT_DOUBLE_EQ(s.wallSeconds, 2.5);

    writeFile(dir.filePath("metrics.csv"), "step,distance,mass,max_speed,seconds,substeps,target\n"
                                           "0,0.9,1,0,0,0,0\n");
    s = summariseSweepRun(dir.path());
    EXPECT_LT(s.flowShare, 0.0); // unknown: the table leaves it empty
    EXPECT_EQ(summariseSweepRun(dir.filePath("none")).status, "not run");
}
