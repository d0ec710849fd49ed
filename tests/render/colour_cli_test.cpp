// Runs of several coloured smoke fields through the program: the colour
// frames, the per-field metrics and every refusal.

#include "clirun.h"

#include <QDir>
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
        // A red square left, a blue one right, on black.
        QImage pair(kSide, kSide, QImage::Format_RGB32);
        pair.fill(Qt::black);
        for (int y = 6; y < 14; ++y) {
            for (int x = 2; x < 8; ++x) {
                pair.setPixel(x, y, qRgb(255, 0, 0));
                pair.setPixel(x + 10, y, qRgb(0, 0, 255));
            }
        }
        ASSERT_TRUE(pair.save(path("pair.png")));
        ASSERT_TRUE(pair.mirrored(true, false).save(path("pair-swapped.png")));
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
    EXPECT_TRUE(lines[0].endsWith(",gathered,distance.ff0000,distance.0000ff,colour_error"));
    // Identical fields: each field's distance is the whole run's.
    const QStringList last = lines.last().split(',');
    ASSERT_EQ(last.size(), 12);
    EXPECT_NE(last[1], "0");
    EXPECT_EQ(last[9], last[1]);
    EXPECT_EQ(last[10], last[1]);
}

// A grey disc shared between the two colours of the target, each sorted into
// its own square.
TEST_F(ColourRun, PaletteSplitsAColourTarget) {
    const QString out = path("out-palette");
    const clirun::Result result = clirun::run(
        {"--source", path("disc.png"), "--target", path("pair.png"), "--palette", "auto",
         "--scheme", "sound", "--steps", "4", "--every", "4", "--out", out, "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    // As many pixels of each: the smaller colour first.
    EXPECT_TRUE(result.err.contains("palette: #0000ff, #ff0000")) << result.err.toStdString();
    EXPECT_TRUE(csvLines(out + "/metrics.csv")[0].endsWith(
        ",distance.0000ff,distance.ff0000,colour_error"));
    // At step 0 both fields fill the disc, half each, scaled down to the mass
    // of their square: 0.5 * 48 / 56 (the disc holds about 112) of each.
    EXPECT_EQ(QImage(out + "/frame_000000.png").pixel(kSide / 2, kSide / 2), qRgb(109, 0, 109));

    // A configuration's colour run (ink over white), its mode as the file
    // says and as the option overrides it.
    for (const char *mode : {"", "light"}) {
        const QString folder = out + mode;
        QStringList arguments = {"--example", "ink", "--steps", "1", "--out", folder, "--quiet"};
        if (*mode) {
            arguments << "--colour-mode" << mode;
        }
        ASSERT_EQ(clirun::run(arguments).exitCode, 0);
        EXPECT_EQ(QImage(folder + "/frame_000000.png").pixel(0, 0),
                  *mode ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
}

// RGBA frames (straight alpha: red + blue cover fully at the centre, nothing
// at the corner), a video of the colour picture and a .npy file per field.
TEST_F(ColourRun, RgbaFramesAndVideoShowThePicture) {
    const QString bin = path("bin");
    const QString video = path("movie.mp4");
    const QString out = path("out-rgba");
    const clirun::Result result = clirun::run(
        twoFields(out) + QStringList{"--alpha", "--video", video, "--format", "png,npy"}, QString(),
        clirun::recordingFfmpeg(bin));
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QImage frame(out + "/frame_000000.png");
    EXPECT_TRUE(frame.hasAlphaChannel());
    EXPECT_EQ(frame.pixel(kSide / 2, kSide / 2), qRgba(255, 0, 255, 255));
    EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
    QFile raw(video);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray frames = raw.readAll();
    ASSERT_EQ(frames.size(), 3 * kSide * kSide * 3); // frames 0, 10, 20 as RGB
    const int centre = 3 * (kSide / 2 * kSide + kSide / 2);
    EXPECT_EQ(frames.mid(centre, 3), QByteArray("\xff\x00\xff", 3));
    const QStringList npy = QDir(out).entryList({"*_000020.npy"}, QDir::Files, QDir::Name);
    EXPECT_EQ(npy, QStringList({"density.0000ff_000020.npy", "density.ff0000_000020.npy",
                                "u_000020.npy", "v_000020.npy"}));
}

// Stopped at a checkpoint and resumed, a colour run leaves the folder an
// unbroken run leaves, byte for byte (metrics but for the seconds): fields
// given one by one, of different shapes, and fields a palette split off, each
// with keyframes (the fields' checkpoint falls inside their blend, the
// palette's after its cut). Changing a field's image afterwards is refused
// like a changed source.
TEST_F(ColourRun, CheckpointedRunsResumeAsUnbroken) {
    const QString disc = path("disc.png");
    const QString dot = path("dot.png");
    const QStringList kinds[] = {
        {"--field", "ff0000:" + disc + ":" + dot, "--field", "0000ff:" + dot + ":" + disc,
         "--colour-mode", "dark", "--format", "png,npy", "--keyframe", "#0000ff:10:" + dot + ":8",
         "--keyframe", "#ff0000:10:" + disc + ":8"},
        {"--source", disc, "--target", path("pair.png"), "--palette", "auto", "--keyframe",
         "12:" + path("pair-swapped.png")},
    };
    const QStringList leaveOut = {"checkpoint.vlck", ".velloran-render.lock", "metrics.csv"};
    for (const QStringList &kind : kinds) {
        const QString straight = path("straight");
        const QString stopped = path("stopped");
        QDir(straight).removeRecursively();
        QDir(stopped).removeRecursively();
        const QStringList common =
            kind + QStringList{"--scheme", "sound", "--every", "5", "--quiet"};
        ASSERT_EQ(clirun::run(common + QStringList{"--steps", "30", "--out", straight}).exitCode,
                  0);
        clirun::Result r = clirun::run(
            common + QStringList{"--steps", "15", "--checkpoint-every", "15", "--out", stopped});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        r = clirun::run({"--resume", stopped, "--steps", "30", "--quiet"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(clirun::folderDigest(stopped, leaveOut),
                  clirun::folderDigest(straight, leaveOut));
        QFile a(straight + "/metrics.csv");
        QFile b(stopped + "/metrics.csv");
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_EQ(clirun::withoutSeconds(b.readAll()), clirun::withoutSeconds(a.readAll()));
    }
    const QString stopped = path("stopped-fields");
    ASSERT_EQ(clirun::run(kinds[0] + QStringList{"--steps", "5", "--checkpoint-every", "5", "--out",
                                                 stopped, "--quiet"})
                  .exitCode,
              0);
    ASSERT_TRUE(clirun::disc(kSide, 4).save(dot));
    const clirun::Result r = clirun::run({"--resume", stopped, "--steps", "10", "--quiet"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("cannot resume: the target image of field #ff0000"))
        << r.err.toStdString();
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
        {one + QStringList{"--field", "00ff00:" + path("larger.png") + ":" + path("larger.png")},
         "--field #00ff00: its source is 22 x 22 pixels, the first field's 20 x 20"},
        {one + QStringList{"--field", "00ff00:" + path("none.png") + ":" + disc},
         "--field #00ff00: Could not load source image"},
        {{"--example", "word-to-word", "--field", "ff0000" + pair, "--out", out},
         "keyframes: the keyframe at step 1500 names no field"},
        {one + QStringList{"--keyframe", "#ff00:9:" + disc}, "a field is named by its colour"},
        {{"--source", disc, "--target", path("pair.png"), "--palette", "auto", "--keyframe",
          "9:" + disc, "--out", out},
         "(step 9) has no #ff0000 in the part a run uses"},
        // A colour target split by a palette.
        {{"--source", disc, "--target", path("pair.png"), "--palette", "red", "--out", out},
         "--palette: 'red' is not a colour"},
        {{"--source", disc, "--target", path("pair.png"), "--palette", "9", "--out", out},
         "a palette has 1 to 8 colours, not 9"},
        {{"--source", disc, "--target", path("pair.png"), "--palette", "3", "--out", out},
         "--palette 3: the target has 2 colours besides its background #000000, not 3"},
        {{"--source", disc, "--target", path("pair.png"), "--palette", "#00ff00", "--out", out},
         "the palette colour #00ff00 is not in the target"},
        {{"--source", path("larger.png"), "--target", path("pair.png"), "--palette", "auto",
          "--out", out},
         "the source image is 22 x 22 pixels and the colour target 20 x 20"},
        {one + QStringList{"--palette", "auto"}, "--field replaces --source and --target"},
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
