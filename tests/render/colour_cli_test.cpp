// Runs of several coloured smoke fields through the program: the colour
// frames, the per-field metrics and every refusal.

#include "clirun.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kSide = 20;

class ColourRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(clirun::disc(kSide, 6).save(path("disc.png")));
        ASSERT_TRUE(clirun::disc(kSide, 3).save(path("dot.png")));
        ASSERT_TRUE(clirun::disc(kSide + 2, 6).save(path("larger.png")));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Two fields of one disc each, red and blue: alike in all but colour.
    QStringList twoFields(const QString &out) const {
        const QString pair = QStringLiteral(":%1:%1").arg(path("disc.png"));
        return {"--field",  "#ff0000" + pair,
                "--field",  "0000ff" + pair,
                "--scheme", "sound",
                "--steps",  "20",
                "--every",  "10",
                "--out",    out,
                "--quiet"};
    }

    QTemporaryDir m_dir;
};

QStringList csvLines(const QString &file) {
    QFile metrics(file);
    EXPECT_TRUE(metrics.open(QIODevice::ReadOnly)) << file.toStdString();
    return QString::fromUtf8(metrics.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Light: the colours add (red + blue where both fields are dense); dark: what
// passes exp(-3 (rho_1 + rho_2)) of the white plate, the rest the fields' mix.
TEST_F(ColourRun, FramesAndMetricsOfTwoFields) {
    for (const char *mode : {"light", "dark"}) {
        const QString out = path(QStringLiteral("out-") + mode);
        const clirun::Result result =
            clirun::run(twoFields(out) + QStringList{"--colour-mode", mode});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        const QImage frame(out + "/frame_000000.png");
        ASSERT_FALSE(frame.isNull());
        const QRgb centre = frame.pixel(kSide / 2, kSide / 2);
        const QRgb corner = frame.pixel(0, 0);
        if (QLatin1String(mode) == QLatin1String("light")) {
            EXPECT_EQ(centre, qRgb(255, 0, 255));
            EXPECT_EQ(corner, qRgb(0, 0, 0));
        } else {
            EXPECT_EQ(centre, qRgb(128, 1, 128)); // 0.0025 + 0.9975 * 0.5
            EXPECT_EQ(corner, qRgb(255, 255, 255));
        }
    }
    const QStringList lines = csvLines(path("out-light/metrics.csv"));
    ASSERT_EQ(lines.size(), 22);
    EXPECT_TRUE(lines[0].endsWith(",gathered,distance.ff0000,distance.0000ff"));
    // Identical fields: each field's distance is the whole run's.
    const QStringList last = lines.last().split(',');
    ASSERT_EQ(last.size(), 11);
    EXPECT_NE(last[1], "0");
    EXPECT_EQ(last[9], last[1]);
    EXPECT_EQ(last[10], last[1]);
}

TEST_F(ColourRun, BadFieldsAreRefusedAndNothingIsCreated) {
    const QString out = path("out-bad");
    const QString disc = path("disc.png");
    const QString pair = QStringLiteral(":%1:%1").arg(disc);
    const QStringList one = {"--field", "ff0000" + pair, "--out", out};
    const struct {
        QStringList arguments;
        const char *message;
    } cases[] = {
        {{"--field", "red" + pair, "--out", out}, "'red' is not a colour"},
        {{"--field", "ff0000:" + disc, "--out", out}, "--field takes COLOUR:SOURCE:TARGET"},
        {one + QStringList{"--field", "#FF0000" + pair}, "a field of colour #ff0000"},
        {one + QStringList{"--colour-mode", "grey"}, "--colour-mode takes light or dark"},
        {{"--example", "blob-to-s", "--colour-mode", "dark", "--out", out},
         "--colour-mode draws the fields of --field"},
        {one + QStringList{"--source", disc}, "--field replaces --source and --target"},
        {one + QStringList{"--format", "png,exr"}, "png frames only for now, but --format has exr"},
        {one + QStringList{"--checkpoint-every", "5"}, "--checkpoint-every is not available"},
        {one + QStringList{"--field", "00ff00:" + path("larger.png") + ":" + path("larger.png")},
         "--field #00ff00: its source is 22 x 22 pixels, the first field's 20 x 20"},
        {one + QStringList{"--field", "00ff00:" + path("none.png") + ":" + disc},
         "--field #00ff00: Could not load source image"},
        {{"--example", "word-to-word", "--field", "ff0000" + pair, "--out", out},
         "keyframes are not available with --field"},
    };
    for (const auto &c : cases) {
        clirun::expectRefused(c.arguments, QString::fromUtf8(c.message), out);
    }
    QStringList nine;
    for (int k = 0; k < 9; ++k) {
        nine << "--field" << QStringLiteral("%1%1%1").arg(k * 11, 2, 10, QLatin1Char('0')) + pair;
    }
    clirun::expectRefused(nine + QStringList{"--out", out}, "at most 8 fields", out);
}

} // namespace
