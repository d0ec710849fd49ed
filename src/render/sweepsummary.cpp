#include "sweepsummary.h"

#include "atomicfile.h"
#include "checkpointio.h"
#include "messages.h"
#include "metrics.h"
#include "renderer.h"
#include "sweeprun.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velloran {

namespace {

constexpr int kGap = 6;          // pixels between and around the pictures
constexpr int kMinPicture = 128; // small grids are enlarged to this, pixel for pixel
constexpr int kMaxPicture = 256; // large ones reduced to this

QString csvField(const QString &text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Best, last and flow share from metrics.csv (columns found by name, so that
// columns added later do not disturb it).
void readMetrics(const QString &path, SweepRunSummary *summary) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QList<QByteArray> header = file.readLine().trimmed().split(',');
    const qsizetype step = header.indexOf("step"), distance = header.indexOf("distance"),
                    seconds = header.indexOf("seconds"), advected = header.indexOf("advected"),
                    gathered = header.indexOf("gathered");
    if (step < 0 || distance < 0) {
        return;
    }
    double best = 0.0, lastSeconds = 0.0, sumAdvected = 0.0, sumGathered = 0.0;
    while (!file.atEnd()) {
        const QList<QByteArray> cells = file.readLine().trimmed().split(',');
        if (cells.size() != header.size()) {
            continue;
        }
        const double value = cells[distance].toDouble();
        summary->lastStep = cells[step].toInt();
        summary->lastDistance = QString::fromLatin1(cells[distance]);
        if (std::isfinite(value) && (summary->bestStep < 0 || value < best)) {
            best = value;
            summary->bestStep = summary->lastStep;
            summary->bestDistance = summary->lastDistance;
        }
        if (seconds >= 0) {
            lastSeconds = cells[seconds].toDouble();
        }
        if (advected >= 0 && gathered >= 0) {
            sumAdvected += cells[advected].toDouble();
            sumGathered += cells[gathered].toDouble();
        }
    }
    if (advected >= 0 && gathered >= 0 && sumAdvected + sumGathered > 0.0) {
        summary->flowShare = sumAdvected / (sumAdvected + sumGathered);
    }
    if (summary->lastStep > 0 && lastSeconds > 0.0) {
        summary->stepsPerSecond = summary->lastStep / lastSeconds;
    }
}

QStringList axesOf(const std::vector<SweepRun> &runs) {
    QStringList axes;
    for (const SweepRun &run : runs) {
        for (const QString &axis : run.axes) {
            if (!axes.contains(axis)) {
                axes << axis;
            }
        }
    }
    return axes;
}

// Columns: the values the last axis takes (a row per combination of the
// others); without axes, as square as the runs allow.
int sheetColumns(const std::vector<SweepRun> &runs) {
    const QStringList axes = axesOf(runs);
    const int count = static_cast<int>(runs.size());
    if (axes.size() >= 2) {
        QStringList values;
        for (const SweepRun &run : runs) {
            const QString value = sweepValueText(run.options.value(axes.last()));
            if (!values.contains(value)) {
                values << value;
            }
        }
        return std::max(1, static_cast<int>(values.size()));
    }
    if (axes.size() == 1 && count <= 8) {
        return std::max(1, count);
    }
    return std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count)))));
}

// The run's final density, or a null image when it has none (not finished).
QImage finalPicture(const QString &folder, const SweepRunSummary &summary) {
    Checkpoint checkpoint;
    QString error;
    if (summary.status != QLatin1String("ok") || !loadCheckpoint(folder, &checkpoint, &error) ||
        checkpoint.step != checkpoint.run.job.steps) {
        return {};
    }
    const Grid *density = checkpoint.grid(QStringLiteral("density"));
    return density ? densityImage(*density) : QImage();
}

QStringList labelLines(const SweepRun &run, const SweepRunSummary &summary) {
    QStringList lines;
    for (const QString &axis : run.axes) {
        lines << axis + QLatin1Char('=') + sweepValueText(run.options.value(axis));
    }
    if (lines.isEmpty()) {
        lines << run.name;
    }
    if (summary.status == QLatin1String("ok")) {
        lines << QStringLiteral("best %1 @ %2")
                     .arg(summary.bestDistance.toDouble(), 0, 'f', 3)
                     .arg(summary.bestStep);
    } else {
        lines << summary.status;
    }
    return lines;
}

} // namespace

SweepRunSummary summariseSweepRun(const QString &folder) {
    SweepRunSummary summary;
    QFile file(QDir(folder).filePath(sweepRecordName()));
    if (!file.open(QIODevice::ReadOnly)) {
        return summary;
    }
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    summary.status = record.value(QLatin1String("status")).toString(summary.status);
    summary.error = record.value(QLatin1String("error")).toString();
    summary.wallSeconds = record.value(QLatin1String("seconds")).toDouble(-1.0);
    readMetrics(QDir(folder).filePath(QStringLiteral("metrics.csv")), &summary);
    return summary;
}

QString sweepTable(const std::vector<SweepRun> &runs,
                   const std::vector<SweepRunSummary> &summaries) {
    const QStringList axes = axesOf(runs);
    QStringList header{QStringLiteral("index"), QStringLiteral("name")};
    header << axes;
    header << QStringList{"status",           "best_distance", "best_step",
                          "last_distance",    "last_step",     "flow_share",
                          "steps_per_second", "wall_seconds",  "error"};
    QString table = header.join(QLatin1Char(',')) + QLatin1Char('\n');
    const auto known = [](double value, int decimals) {
        return value < 0.0 ? QString() : QString::number(value, 'f', decimals);
    };
    const auto step = [](int value) { return value < 0 ? QString() : QString::number(value); };
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const SweepRun &run = runs[k];
        const SweepRunSummary &s = summaries[k];
        QStringList row{QString::number(run.index), run.name};
        for (const QString &axis : axes) {
            row << sweepValueText(run.options.value(axis));
        }
        row << s.status << s.bestDistance << step(s.bestStep) << s.lastDistance << step(s.lastStep)
            << known(s.flowShare, 4) << known(s.stepsPerSecond, 1) << known(s.wallSeconds, 2)
            << s.error;
        for (QString &cell : row) {
            cell = csvField(cell);
        }
        table += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return table;
}

QImage sweepContactSheet(const std::vector<SweepRun> &runs,
                         const std::vector<SweepRunSummary> &summaries, const QString &root) {
    std::vector<QImage> pictures;
    int side = kMinPicture;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        pictures.push_back(finalPicture(QDir(root).filePath(runs[k].name), summaries[k]));
        if (!pictures.back().isNull()) {
            const int n = pictures.back().width();
            side = std::max(
                side, std::min(kMaxPicture, n < kMinPicture ? n * ((kMinPicture + n - 1) / n) : n));
        }
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    int lines = 1;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        lines = std::max(lines, static_cast<int>(labelLines(runs[k], summaries[k]).size()));
    }
    const int columns = sheetColumns(runs);
    const int rows = std::max(1, (static_cast<int>(runs.size()) + columns - 1) / columns);
    const int labelHeight = lines * metrics.lineSpacing() + 4;
    const int pitchX = side + kGap, pitchY = side + labelHeight + kGap;
    QImage sheet(columns * pitchX + kGap, rows * pitchY + kGap, QImage::Format_RGB32);
    sheet.fill(QColor(40, 40, 40));
    QPainter painter(&sheet);
    painter.setFont(font);
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const int x = kGap + static_cast<int>(k) % columns * pitchX;
        const int y = kGap + static_cast<int>(k) / columns * pitchY;
        const QRect frame(x, y, side, side);
        if (pictures[k].isNull()) {
            painter.fillRect(frame, QColor(90, 30, 30)); // no final frame: failed or unfinished
        } else {
            const QImage &picture = pictures[k];
            const bool enlarge = picture.width() < side;
            painter.drawImage(
                frame, picture.scaled(side, side, Qt::IgnoreAspectRatio,
                                      enlarge ? Qt::FastTransformation : Qt::SmoothTransformation));
        }
        painter.setPen(QColor(230, 230, 230));
        painter.drawText(QRect(x, y + side + 2, side, labelHeight),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere,
                         labelLines(runs[k], summaries[k]).join(QLatin1Char('\n')));
    }
    painter.end();
    return sheet;
}

int writeSweepSummary(const std::vector<SweepRun> &runs, const QString &root) {
    std::vector<SweepRunSummary> summaries;
    int done = 0;
    for (const SweepRun &run : runs) {
        summaries.push_back(summariseSweepRun(QDir(root).filePath(run.name)));
        done += summaries.back().status == QLatin1String("ok") ? 1 : 0;
    }
    QString error;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!QDir().mkpath(root) ||
        !writeFileAtomically(QDir(root).filePath(QStringLiteral("sweep.csv")),
                             sweepTable(runs, summaries).toUtf8(), &error) ||
        !sweepContactSheet(runs, summaries, root).save(&buffer, "PNG") ||
        !writeFileAtomically(QDir(root).filePath(QStringLiteral("sweep.png")), png, &error)) {
        Messages(stderr).say(error.isEmpty()
                                 ? QStringLiteral("could not write the summary into '%1'").arg(root)
                                 : error);
        return kExitOutputFailed;
    }
    std::printf("%d of %zu runs done\ntable: %s\ncontact sheet: %s\n", done, runs.size(),
                QDir(root).filePath(QStringLiteral("sweep.csv")).toLocal8Bit().constData(),
                QDir(root).filePath(QStringLiteral("sweep.png")).toLocal8Bit().constData());
    return kExitOk;
}

} // namespace velloran
