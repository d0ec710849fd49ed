// Draws the bundled examples' images and writes their configuration files.
//
//   cmake --build build/b --target velloran_make_examples
//   build/b/src/render/velloran_make_examples examples
//
// A second argument draws the same pictures at another side (e.g. 256 for a
// benchmark of larger grids); the configuration files are written as well.
//
// The images are grey (the simulation reads the blue channel), 128 x 128,
// white smoke on black. Letters come from the DejaVu fonts at generation time;
// the results are committed, so renders never depend on installed fonts.

#include "configfile.h"
#include "parameters.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// Side of the pictures in pixels: 128 for the bundled examples; other sides
// (for benchmarks) scale every shape with it.
int kSide = 128;

QImage blank() {
    QImage image(kSide, kSide, QImage::Format_Grayscale8);
    image.fill(0);
    return image;
}

// A round puff of smoke centred at (cx, cy): a flat top that fades out
// smoothly over a few pixels.
QImage blobAt(double cx, double cy, double radius, double edge) {
    QImage image = blank();
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const double r = std::hypot(x - cx, y - cy);
            const double value = 0.5 * (1.0 - std::tanh((r - radius) / edge));
            image.scanLine(y)[x] = static_cast<uchar>(std::lround(255.0 * value));
        }
    }
    return image;
}

// The puff in the middle, carrying about as much smoke as the letter it
// turns into.
QImage blob(double radius, double edge) {
    const double c = (kSide - 1) / 2.0;
    return blobAt(c, c, radius, edge);
}

// Fills a path in white with anti-aliased edges, then softens the edges a
// little with a small box blur so the target has no hard one-pixel steps.
QImage fillPath(const QPainterPath &path) {
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, Qt::white);
    painter.end();
    return image.convertToFormat(QImage::Format_Grayscale8);
}

QImage letter(const QString &text, const QString &family, int pixelSize) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(true);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF box = path.boundingRect();
    path.translate(kSide / 2.0 - box.center().x(), kSide / 2.0 - box.center().y());
    return fillPath(path);
}

QPainterPath ringPath(double outer, double inner) {
    QPainterPath path;
    const QPointF c(kSide / 2.0, kSide / 2.0);
    path.addEllipse(c, outer, outer);
    path.addEllipse(c, inner, inner);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

QImage ring(double outer, double inner) {
    return fillPath(ringPath(outer, inner));
}

QPainterPath starPath(double outer, double inner) {
    QPainterPath path;
    const QPointF c(kSide / 2.0, kSide / 2.0 + 4.0 * kSide / 128.0);
    for (int k = 0; k < 10; ++k) {
        const double r = k % 2 == 0 ? outer : inner;
        const double a = -M_PI / 2.0 + k * M_PI / 5.0;
        const QPointF p(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (k == 0) {
            path.moveTo(p);
        } else {
            path.lineTo(p);
        }
    }
    path.closeSubpath();
    return path;
}

QImage star(double outer, double inner) {
    return fillPath(starPath(outer, inner));
}

// One half of a yin-yang of radius r: the left half of the disc with a bulge
// of half the radius added above the centre and taken out below it; turned
// half a turn, the other half. Two smoke fields exchanging these swap places.
QImage yinYangHalf(double r, bool turned) {
    const QPointF c(kSide / 2.0, kSide / 2.0);
    QPainterPath half;
    half.moveTo(c);
    half.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 90.0, 180.0);
    half.closeSubpath();
    QPainterPath above;
    above.addEllipse(QPointF(c.x(), c.y() - r / 2), r / 2, r / 2);
    QPainterPath below;
    below.addEllipse(QPointF(c.x(), c.y() + r / 2), r / 2, r / 2);
    QPainterPath shape = half.united(above).subtracted(below);
    if (turned) {
        QTransform turn;
        turn.translate(c.x(), c.y());
        turn.rotate(180.0);
        turn.translate(-c.x(), -c.y());
        shape = turn.map(shape);
    }
    return fillPath(shape);
}

// Obstacles (white is solid): a wall down the middle, `thickness` wide, open
// over `gap` in the middle.
QImage wallWithGap(double thickness, double gap) {
    const double x = (kSide - thickness) / 2.0;
    const double opening = (kSide - gap) / 2.0;
    QPainterPath path;
    path.addRect(x, 0.0, thickness, opening);
    path.addRect(x, opening + gap, thickness, opening);
    return fillPath(path);
}

// A colour picture: each path filled in its colour over the plate, in order,
// anti-aliased, in 8-bit RGB (a colour run splits it by its palette).
QImage paintColours(const QColor &plate,
                    const std::vector<std::pair<QPainterPath, QColor>> &paths) {
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(plate);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto &[path, colour] : paths) {
        painter.fillPath(path, colour);
    }
    painter.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

// Four petals around the centre, one colour each, on black: the colour run
// of a grey disc sorts its smoke into them.
QImage emblem() {
    const double s = kSide / 128.0;
    const QPointF c(kSide / 2.0, kSide / 2.0);
    const char *colours[4] = {"#e8702a", "#1a9e8f", "#7a4fc8", "#f2c81e"};
    std::vector<std::pair<QPainterPath, QColor>> petals;
    for (int k = 0; k < 4; ++k) {
        const double a = k * M_PI / 2.0;
        const QPointF centre(c.x() + 26.0 * s * std::sin(a), c.y() - 26.0 * s * std::cos(a));
        QPainterPath petal;
        const bool upright = k % 2 == 0;
        petal.addEllipse(centre, (upright ? 13.0 : 20.0) * s, (upright ? 20.0 : 13.0) * s);
        petals.emplace_back(petal, QColor(QLatin1String(colours[k])));
    }
    return paintColours(Qt::black, petals);
}

// Ink on white for the dark mode: a navy ring round a crimson star.
QImage inkRingAndStar() {
    const double s = kSide / 128.0;
    return paintColours(Qt::white, {{ringPath(50.0 * s, 41.0 * s), QColor(0x20, 0x3a, 0x8f)},
                                    {starPath(34.0 * s, 15.0 * s), QColor(0xb8, 0x32, 0x3a)}});
}

bool save(const QImage &image, const QDir &dir, const QString &name) {
    if (!image.save(dir.filePath(name))) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(dir.filePath(name)));
        return false;
    }
    return true;
}

bool writeConfig(const QDir &dir, const QString &name, const velloran::SimParameters &p,
                 const QString &source, const QString &target,
                 velloran::SchemeAndKeyframes extras = {}) {
    QString error;
    if (!extras.obstacles.isEmpty()) {
        extras.obstacles = QStringLiteral("examples/") + extras.obstacles;
    }
    for (velloran::KeyframeEntry &keyframe : extras.keyframes) {
        keyframe.image = QStringLiteral("examples/") + keyframe.image;
    }
    if (!velloran::writeConfigurationFile(dir.filePath(name), p,
                                          QStringLiteral("examples/") + source,
                                          QStringLiteral("examples/") + target, &error, extras)) {
        std::fprintf(stderr, "could not write %s: %s\n", qPrintable(name), qPrintable(error));
        return false;
    }
    return true;
}

velloran::SimParameters parameters(double vf, double vd, double vg, double sigma, double dt) {
    velloran::SimParameters p;
    p[velloran::kVf] = vf;
    p[velloran::kVd] = vd;
    p[velloran::kVg] = vg;
    p[velloran::kSigma] = sigma;
    p[velloran::kDt] = dt;
    return p;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [SIDE]\n", argv[0]);
        return 2;
    }
    if (argc == 3) {
        kSide = std::atoi(argv[2]);
        if (kSide < 16 || kSide > 2048) {
            std::fprintf(stderr, "SIDE must lie between 16 and 2048\n");
            return 2;
        }
    }
    const double scale = kSide / 128.0;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists()) {
        std::fprintf(stderr, "no folder %s\n", argv[1]);
        return 2;
    }
    const int font = QFontDatabase::addApplicationFont(
        QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"));
    const QString family = font >= 0 ? QFontDatabase::applicationFontFamilies(font).value(0)
                                     : QStringLiteral("DejaVu Sans");

    bool ok = save(blob(31.0 * scale, 4.0 * scale), dir, QStringLiteral("blob.png"));
    ok = save(letter(QStringLiteral("S"), family, static_cast<int>(std::lround(110 * scale))), dir,
              QStringLiteral("letter-s.png")) &&
         ok;
    ok = save(ring(44.0 * scale, 30.0 * scale), dir, QStringLiteral("ring.png")) && ok;
    ok = save(star(52.0 * scale, 22.0 * scale), dir, QStringLiteral("star.png")) && ok;
    // A colour run's two fields, exchanging places (yin-yang.xml).
    ok = save(yinYangHalf(44.0 * scale, false), dir, QStringLiteral("yin.png")) && ok;
    ok = save(yinYangHalf(44.0 * scale, true), dir, QStringLiteral("yang.png")) && ok;
    ok = save(emblem(), dir, QStringLiteral("emblem.png")) && ok;
    ok = save(inkRingAndStar(), dir, QStringLiteral("ink-ring-star.png")) && ok;
    ok = writeConfig(dir, QStringLiteral("blob-to-s.xml"), parameters(0.5, 5, 0, 2.2, 0.001),
                     QStringLiteral("blob.png"), QStringLiteral("letter-s.png")) &&
         ok;
    ok = writeConfig(dir, QStringLiteral("ring-to-star.xml"), parameters(0.5, 1, 0, 0.7, 0.001),
                     QStringLiteral("ring.png"), QStringLiteral("star.png")) &&
         ok;

    // The sound scheme's versions, with its one default parameter set, and
    // targets with fine detail: words, and a sequence of targets.
    const int wordPixels = static_cast<int>(std::lround(28 * scale));
    ok = save(letter(QStringLiteral("SMOKE"), family, wordPixels), dir,
              QStringLiteral("word-smoke.png")) &&
         ok;
    ok = save(letter(QStringLiteral("FORMS"), family, wordPixels), dir,
              QStringLiteral("word-forms.png")) &&
         ok;
    const velloran::SimParameters sound = parameters(
        velloran::soundDefaultValue(velloran::kVf), velloran::soundDefaultValue(velloran::kVd),
        velloran::soundDefaultValue(velloran::kVg), velloran::soundDefaultValue(velloran::kSigma),
        velloran::soundDefaultValue(velloran::kDt));
    velloran::SchemeAndKeyframes soundScheme;
    soundScheme.scheme = velloran::Scheme::Sound;
    ok = writeConfig(dir, QStringLiteral("blob-to-s-sound.xml"), sound, QStringLiteral("blob.png"),
                     QStringLiteral("letter-s.png"), soundScheme) &&
         ok;
    ok = writeConfig(dir, QStringLiteral("ring-to-star-sound.xml"), sound,
                     QStringLiteral("ring.png"), QStringLiteral("star.png"), soundScheme) &&
         ok;
    ok = writeConfig(dir, QStringLiteral("blob-to-word.xml"), sound, QStringLiteral("blob.png"),
                     QStringLiteral("word-smoke.png"), soundScheme) &&
         ok;
    // Colour runs: a grey disc sorted into four colours, ink over white, and
    // the two halves of a yin-yang exchanging places.
    velloran::SchemeAndKeyframes colour = soundScheme;
    colour.colour =
        velloran::ColourConfiguration{velloran::ColourMode::Light, velloran::PaletteRequest{}, {}};
    ok = writeConfig(dir, QStringLiteral("emblem.xml"), sound, QStringLiteral("blob.png"),
                     QStringLiteral("emblem.png"), colour) &&
         ok;
    colour.colour->mode = velloran::ColourMode::Dark;
    ok = writeConfig(dir, QStringLiteral("ink.xml"), sound, QStringLiteral("blob.png"),
                     QStringLiteral("ink-ring-star.png"), colour) &&
         ok;
    colour.colour = velloran::ColourConfiguration{
        velloran::ColourMode::Light,
        std::nullopt,
        {{*velloran::parseSmokeColour(QStringLiteral("e03020")), QStringLiteral("examples/yin.png"),
          QStringLiteral("examples/yang.png")},
         {*velloran::parseSmokeColour(QStringLiteral("20a0e0")),
          QStringLiteral("examples/yang.png"), QStringLiteral("examples/yin.png")}}};
    ok =
        writeConfig(dir, QStringLiteral("yin-yang.xml"), sound, QString(), QString(), colour) && ok;
    velloran::SchemeAndKeyframes sequence = soundScheme;
    sequence.keyframes = {{1500, QStringLiteral("word-forms.png"), 0},
                          {3000, QStringLiteral("star.png"), 200}};
    ok = writeConfig(dir, QStringLiteral("word-to-word.xml"), sound, QStringLiteral("blob.png"),
                     QStringLiteral("word-smoke.png"), sequence) &&
         ok;

    // Obstacles: smoke that must find the gap in a wall to reach a disc on
    // the other side, and a word formed around a solid star.
    const double c = (kSide - 1) / 2.0;
    ok = save(blobAt(28.0 * scale, c, 20.0 * scale, 3.0 * scale), dir,
              QStringLiteral("puff-left.png")) &&
         ok;
    ok = save(blobAt(kSide - 1 - 28.0 * scale, c, 20.0 * scale, 3.0 * scale), dir,
              QStringLiteral("disc-right.png")) &&
         ok;
    ok = save(wallWithGap(8.0 * scale, 20.0 * scale), dir, QStringLiteral("wall-gap.png")) && ok;
    ok = save(star(30.0 * scale, 13.0 * scale), dir, QStringLiteral("star-emblem.png")) && ok;
    velloran::SchemeAndKeyframes walled = soundScheme;
    walled.obstacles = QStringLiteral("wall-gap.png");
    ok = writeConfig(dir, QStringLiteral("through-the-gap.xml"), sound,
                     QStringLiteral("puff-left.png"), QStringLiteral("disc-right.png"), walled) &&
         ok;
    velloran::SchemeAndKeyframes emblem = soundScheme;
    emblem.obstacles = QStringLiteral("star-emblem.png");
    ok = writeConfig(dir, QStringLiteral("word-around-star.xml"), sound, QStringLiteral("ring.png"),
                     QStringLiteral("word-smoke.png"), emblem) &&
         ok;
    return ok ? 0 : 1;
}
