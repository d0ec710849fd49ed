#include "targetset.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace fidelity {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Text centred in a rectangle, `pixels` high.
void drawTextIn(QPainter &painter, const QRectF &rect, const QString &text, double pixels) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(static_cast<int>(pixels));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect, Qt::AlignCenter, text);
}

void drawText(QPainter &painter, int n, const QString &text, double heightFraction) {
    drawTextIn(painter, QRectF(0, 0, n, n), text, n * heightFraction);
}

// Smooth random blobs: a sum of a few dozen Gaussians at fixed pseudo-random
// places (a small linear congruential generator, so every machine draws the
// same), thresholded softly.
void drawNoise(QImage &image, int n) {
    std::uint64_t state = 12345;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / static_cast<double>(1ULL << 53);
    };
    struct Blob {
        double x, y, r, w;
    };
    std::vector<Blob> blobs;
    for (int k = 0; k < 40; ++k) {
        blobs.push_back({next(), next(), 0.03 + 0.05 * next(), next() < 0.5 ? 1.0 : -0.6});
    }
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const double px = (x + 0.5) / n;
            const double py = (y + 0.5) / n;
            double value = 0.0;
            for (const Blob &b : blobs) {
                const double d2 = (px - b.x) * (px - b.x) + (py - b.y) * (py - b.y);
                value += b.w * std::exp(-d2 / (b.r * b.r));
            }
            const int level = static_cast<int>(std::round(255 * std::clamp(value, 0.0, 1.0)));
            image.setPixel(x, y, qRgb(level, level, level));
        }
    }
}

} // namespace

std::vector<Shape> shapes() {
    return {{QStringLiteral("disc"), true},     {QStringLiteral("noise"), false},
            {QStringLiteral("C"), true},        {QStringLiteral("A"), true},
            {QStringLiteral("S"), true},        {QStringLiteral("word"), true},
            {QStringLiteral("ring"), true},     {QStringLiteral("star"), true},
            {QStringLiteral("twoblobs"), true}, {QStringLiteral("corner"), true},
            {QStringLiteral("farR"), true},     {QStringLiteral("dots"), true},
            {QStringLiteral("small"), true},    {QStringLiteral("big"), true},
            {QStringLiteral("forms"), true},    {QStringLiteral("leftdisc"), true},
            {QStringLiteral("rightA"), true},   {QStringLiteral("wallgap"), true},
            {QStringLiteral("emblem"), true},   {QStringLiteral("aroundword"), true},
            {QStringLiteral("lowdisc"), true},  {QStringLiteral("grille"), true},
            {QStringLiteral("highword"), true}};
}

QImage drawShape(const QString &name, int n) {
    if (name.endsWith(QLatin1String(".png"))) {
        QImage file(name);
        if (file.width() != n) {
            file = file.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        return file.convertToFormat(QImage::Format_RGB32);
    }
    QImage image(n, n, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (name == QLatin1String("noise")) {
        drawNoise(image, n);
        return image;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const double s = n;
    if (name == QLatin1String("disc")) {
        painter.drawEllipse(QPointF(0.4 * s, 0.45 * s), 0.2 * s, 0.2 * s);
    } else if (name == QLatin1String("ring")) {
        QPainterPath path;
        path.addEllipse(QPointF(0.5 * s, 0.5 * s), 0.33 * s, 0.33 * s);
        path.addEllipse(QPointF(0.5 * s, 0.5 * s), 0.29 * s, 0.29 * s);
        painter.drawPath(path);
    } else if (name == QLatin1String("star")) {
        QPolygonF star;
        for (int k = 0; k < 10; ++k) {
            const double r = (k % 2 == 0 ? 0.42 : 0.17) * s;
            const double a = -kPi / 2 + k * kPi / 5;
            star << QPointF(0.5 * s + r * std::cos(a), 0.52 * s + r * std::sin(a));
        }
        painter.drawPolygon(star);
    } else if (name == QLatin1String("twoblobs")) {
        // Symmetric about the disc source's centre: the smoke has to split.
        painter.drawEllipse(QPointF(0.2 * s, 0.3 * s), 0.13 * s, 0.13 * s);
        painter.drawEllipse(QPointF(0.6 * s, 0.6 * s), 0.13 * s, 0.13 * s);
    } else if (name == QLatin1String("corner")) {
        // Far from farR: the smoke has to cross the domain.
        painter.drawEllipse(QPointF(0.17 * s, 0.83 * s), 0.12 * s, 0.12 * s);
    } else if (name == QLatin1String("farR")) {
        drawTextIn(painter, QRectF(0.5 * s, 0.02 * s, 0.46 * s, 0.46 * s), QStringLiteral("R"),
                   s * 0.38);
    } else if (name == QLatin1String("dots")) {
        // Five separate dots spread over the domain.
        const double places[5][2] = {
            {0.2, 0.2}, {0.8, 0.25}, {0.5, 0.5}, {0.22, 0.78}, {0.75, 0.8}};
        for (const auto &place : places) {
            painter.drawEllipse(QPointF(place[0] * s, place[1] * s), 0.06 * s, 0.06 * s);
        }
    } else if (name == QLatin1String("small")) {
        painter.drawEllipse(QPointF(0.5 * s, 0.5 * s), 0.08 * s, 0.08 * s);
    } else if (name == QLatin1String("big")) {
        painter.drawRect(QRectF(0.15 * s, 0.15 * s, 0.7 * s, 0.7 * s));
    } else if (name == QLatin1String("word")) {
        drawText(painter, n, QStringLiteral("SMOKE"), 0.21);
    } else if (name == QLatin1String("forms")) {
        drawText(painter, n, QStringLiteral("FORMS"), 0.21);
    } else if (name == QLatin1String("leftdisc")) {
        painter.drawEllipse(QPointF(0.22 * s, 0.5 * s), 0.15 * s, 0.15 * s);
    } else if (name == QLatin1String("rightA")) {
        drawTextIn(painter, QRectF(0.5 * s, 0.1 * s, 0.5 * s, 0.8 * s), QStringLiteral("A"),
                   s * 0.5);
    } else if (name == QLatin1String("wallgap")) {
        // A wall down the middle, three cells at 128 thick, with a gap of a
        // tenth near the bottom.
        painter.drawRect(QRectF(0.49 * s, 0.0, 0.025 * s, 0.75 * s));
        painter.drawRect(QRectF(0.49 * s, 0.85 * s, 0.025 * s, 0.15 * s));
    } else if (name == QLatin1String("emblem")) {
        // A solid star in the middle, the word's two halves above and below.
        QPolygonF star;
        for (int k = 0; k < 10; ++k) {
            const double r = (k % 2 == 0 ? 0.2 : 0.08) * s;
            const double a = -kPi / 2 + k * kPi / 5;
            star << QPointF(0.5 * s + r * std::cos(a), 0.52 * s + r * std::sin(a));
        }
        painter.drawPolygon(star);
    } else if (name == QLatin1String("aroundword")) {
        drawTextIn(painter, QRectF(0, 0.02 * s, s, 0.28 * s), QStringLiteral("SMOKE"), s * 0.2);
        drawTextIn(painter, QRectF(0, 0.72 * s, s, 0.28 * s), QStringLiteral("FORMS"), s * 0.2);
    } else if (name == QLatin1String("lowdisc")) {
        painter.drawEllipse(QPointF(0.5 * s, 0.8 * s), 0.15 * s, 0.12 * s);
    } else if (name == QLatin1String("grille")) {
        // Seven bars across the middle, gaps about as wide as the bars.
        for (int k = 0; k < 7; ++k) {
            painter.drawRect(QRectF((0.04 + k * 0.14) * s, 0.45 * s, 0.07 * s, 0.12 * s));
        }
    } else if (name == QLatin1String("highword")) {
        drawTextIn(painter, QRectF(0, 0.05 * s, s, 0.3 * s), QStringLiteral("SMOKE"), s * 0.2);
    } else {
        drawText(painter, n, name, 0.75);
    }
    return image;
}

namespace {

Pair withObstacles(Pair pair, const char *obstacles) {
    pair.obstacles = QString::fromLatin1(obstacles);
    return pair;
}

} // namespace

std::vector<Pair> pairs() {
    const auto p = [](const char *source, const char *target, const char *next = "", int step = 0,
                      int blend = 0) {
        return Pair{QString::fromLatin1(source), QString::fromLatin1(target),
                    QString::fromLatin1(next), step, blend};
    };
    return {p("disc", "A"),
            p("disc", "word"),
            p("disc", "ring"),
            p("disc", "star"),
            p("disc", "twoblobs"),
            p("C", "star"),
            p("C", "word"),
            p("S", "twoblobs"),
            p("noise", "ring"),
            p("noise", "word"),
            p("corner", "farR"),
            p("disc", "dots"),
            p("small", "big"),
            p("big", "small"),
            p("disc", "word", "forms", 1500),
            p("disc", "S", "star", 1500, 300),
            withObstacles(p("leftdisc", "rightA"), "wallgap"),
            withObstacles(p("noise", "aroundword"), "emblem"),
            withObstacles(p("lowdisc", "highword"), "grille")};
}

std::vector<Pair> pairsToRun(const QStringList &labels) {
    const std::vector<Pair> set = pairs();
    if (labels.isEmpty()) {
        return set;
    }
    std::vector<Pair> chosen;
    for (const QString &label : labels) {
        const auto known = std::find_if(set.begin(), set.end(),
                                        [&](const Pair &pair) { return pair.label() == label; });
        if (known != set.end()) {
            chosen.push_back(*known);
            continue;
        }
        const QStringList solid = label.split(u'#');
        const QStringList parts = solid.front().split(u'|');
        const QStringList ends = parts.front().split(QStringLiteral("->"));
        if (ends.size() != 2) {
            continue;
        }
        Pair pair{ends[0], ends[1], QString(), 0, 0, solid.value(1)};
        if (parts.size() == 2) {
            const QStringList key = parts[1].split(u'@');
            const QStringList when = key.value(1).split(u'/');
            pair.next = key[0];
            pair.step = when[0].toInt();
            pair.blend = when.value(1).toInt();
        }
        chosen.push_back(pair);
    }
    return chosen;
}

} // namespace fidelity
