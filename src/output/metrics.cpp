#include "metrics.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace velloran {

QString metricsCsvHeader(const QStringList &fieldNames, bool colourError) {
    QString header =
        QStringLiteral("step,distance,mass,max_speed,seconds,substeps,target,advected,gathered");
    for (const QString &name : fieldNames) {
        header += QStringLiteral(",distance.") + name;
    }
    if (colourError) {
        header += QStringLiteral(",colour_error");
    }
    return header;
}

namespace {

// QByteArray::number prints as QString::number does (the same digits and
// rules: 10 significant digits, halves rounded away from zero, no "-0"),
// without building a string per column.
void appendNumber(QByteArray *row, double value, char format = 'g', int precision = 10) {
    *row += ',';
    *row += QByteArray::number(value, format, precision);
}

} // namespace

void appendMetricsCsvLine(const StepMetrics &m, QByteArray *row) {
    *row += QByteArray::number(m.step);
    appendNumber(row, m.distance);
    appendNumber(row, m.mass);
    appendNumber(row, m.maxSpeed);
    appendNumber(row, m.seconds, 'f', 3);
    *row += ',';
    *row += QByteArray::number(m.substeps);
    *row += ',';
    *row += QByteArray::number(m.target);
    appendNumber(row, m.advected);
    appendNumber(row, m.gathered);
    for (const double distance : m.fieldDistances) {
        appendNumber(row, distance);
    }
    if (m.colourError) {
        appendNumber(row, *m.colourError);
    }
}

QString metricsCsvLine(const StepMetrics &m) {
    QByteArray row;
    appendMetricsCsvLine(m, &row);
    return QString::fromLatin1(row);
}

namespace {

// A "nice" tick spacing (1, 2 or 5 times a power of ten) giving about `count`
// intervals over `span`.
double tickSpacing(double span, int count) {
    if (!(span > 0.0)) {
        return 1.0;
    }
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    const double nice = fraction < 1.5 ? 1.0 : fraction < 3.5 ? 2.0 : fraction < 7.5 ? 5.0 : 10.0;
    return nice * power;
}

// Tick spacing for the step axis: a spacing of 1, 2, 2.5 or 5 times a power of
// ten that divides the last step into 4 to 10 intervals, so the axis ends on
// the last step (500 -> 100, 1500 -> 250); otherwise the general rule.
double stepTickSpacing(int lastStep) {
    double best = 0.0;
    for (double power = 1.0; power <= lastStep; power *= 10.0) {
        for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
            const double tick = factor * power;
            const double intervals = lastStep / tick;
            if (intervals >= 4.0 && intervals <= 10.0 && intervals == std::floor(intervals) &&
                (best == 0.0 || std::fabs(intervals - 7.0) < std::fabs(lastStep / best - 7.0))) {
                best = tick;
            }
        }
    }
    return best > 0.0 ? best : tickSpacing(lastStep, 8);
}

} // namespace

QImage convergencePlot(const std::vector<StepMetrics> &history, const QString &title,
                       const std::vector<std::int64_t> &keyframeSteps) {
    const int width = 800;
    const int height = 500;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    const QFontMetrics fm(font);

    const QRect plot(80, 50, width - 80 - 30, height - 50 - 60);

    int lastStep = 1;
    double top = 0.0;
    for (const StepMetrics &m : history) {
        if (std::isfinite(m.distance)) {
            lastStep = std::max(lastStep, m.step);
            top = std::max(top, m.distance);
        }
    }
    if (!(top > 0.0)) {
        top = 1.0;
    }
    const double yTick = tickSpacing(top, 5);
    top = std::ceil(top / yTick) * yTick;
    const double xTick = stepTickSpacing(lastStep);
    const double right = std::ceil(lastStep / xTick) * xTick;

    auto toPoint = [&](double step, double distance) {
        return QPointF(plot.left() + step / right * plot.width(),
                       plot.bottom() - distance / top * plot.height());
    };

    // Grid, ticks and their labels.
    painter.setPen(QPen(QColor(225, 225, 225), 1));
    for (double y = 0.0; y <= top + yTick * 1e-9; y += yTick) {
        const QPointF p = toPoint(0.0, y);
        painter.setPen(QPen(QColor(225, 225, 225), 1));
        painter.drawLine(QPointF(plot.left(), p.y()), QPointF(plot.right(), p.y()));
        painter.setPen(Qt::black);
        const QString label = QString::number(y, 'g', 4);
        painter.drawText(QRectF(0, p.y() - 10, plot.left() - 8, 20),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }
    for (double x = 0.0; x <= right + xTick * 1e-9; x += xTick) {
        const QPointF p = toPoint(x, 0.0);
        painter.setPen(QPen(QColor(225, 225, 225), 1));
        painter.drawLine(QPointF(p.x(), plot.top()), QPointF(p.x(), plot.bottom()));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(p.x() - 40, plot.bottom() + 6, 80, 18),
                         Qt::AlignHCenter | Qt::AlignTop, QString::number(x, 'f', 0));
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(plot);

    // Axis titles and the plot title.
    painter.drawText(QRectF(plot.left(), height - 28, plot.width(), 20), Qt::AlignHCenter,
                     QStringLiteral("step"));
    painter.save();
    painter.translate(18, plot.center().y());
    painter.rotate(-90);
    painter.drawText(
        QRectF(-plot.height() / 2.0, -10, plot.height(), 20), Qt::AlignHCenter,
        QStringLiteral("distance to target  \u03a3|\u03c1 - \u03c1*| / \u03a3\u03c1*"));
    painter.restore();
    QFont titleFont = font;
    titleFont.setPixelSize(14);
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.drawText(QRectF(plot.left(), 12, plot.width(), 26), Qt::AlignHCenter | Qt::AlignVCenter,
                     QFontMetrics(titleFont).elidedText(title, Qt::ElideMiddle, plot.width()));
    painter.setFont(font);

    // Where the target changes: dashed lines, labelled with the target they
    // lead to (the first target is number 1, as in the desktop program).
    painter.setClipRect(plot);
    for (std::size_t k = 0; k < keyframeSteps.size(); ++k) {
        const auto step = static_cast<double>(keyframeSteps[k]);
        if (step > right) {
            break;
        }
        const QPointF p = toPoint(step, 0.0);
        painter.setPen(QPen(QColor(230, 140, 20), 1.5, Qt::DashLine));
        painter.drawLine(QPointF(p.x(), plot.top()), QPointF(p.x(), plot.bottom()));
        painter.drawText(QPointF(p.x() + 4, plot.top() + 14),
                         QStringLiteral("target %1").arg(k + 2));
    }
    painter.setClipping(false);

    // The curve, and a marker on its lowest point.
    QPainterPath path;
    bool started = false;
    const StepMetrics *best = nullptr;
    for (const StepMetrics &m : history) {
        if (!std::isfinite(m.distance)) {
            continue;
        }
        const QPointF p = toPoint(m.step, m.distance);
        if (started) {
            path.lineTo(p);
        } else {
            path.moveTo(p);
            started = true;
        }
        if (!best || m.distance < best->distance) {
            best = &m;
        }
    }
    painter.setClipRect(plot.adjusted(-2, -2, 2, 2));
    painter.setPen(QPen(QColor(30, 90, 200), 2));
    painter.drawPath(path);
    if (best) {
        const QPointF p = toPoint(best->step, best->distance);
        painter.setPen(QPen(QColor(200, 40, 40), 2));
        painter.drawEllipse(p, 4, 4);
        painter.setClipping(false);
        const QString label =
            QStringLiteral("lowest %1 at step %2").arg(best->distance, 0, 'f', 4).arg(best->step);
        const int labelWidth = fm.horizontalAdvance(label) + 4;
        double x = p.x() + 8;
        if (x + labelWidth > plot.right()) {
            x = p.x() - 8 - labelWidth;
        }
        // Below the lowest point nothing of the curve can be in the way.
        double y = p.y() + 20;
        if (y > plot.bottom() - 4) {
            y = p.y() - 10;
        }
        painter.drawText(QPointF(x, y), label);
    }
    painter.end();
    return image;
}

QImage densityImage(const Grid &density) {
    const int width = static_cast<int>(density.NumCols()) - 2;
    const int height = static_cast<int>(density.NumRows()) - 2;
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        const std::uint32_t j = static_cast<std::uint32_t>(height - y);
        for (int x = 0; x < width; ++x) {
            double value = density(static_cast<std::uint32_t>(x + 1), j);
            value = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
            line[x] = static_cast<uchar>(std::lround(value * 255.0));
        }
    }
    return image;
}

} // namespace velloran
