#include "runfiles.h"

#include "checkpointio.h"
#include "keyframes.h"
#include "phasetimes.h"
#include "renderer.h"

#include <QDir>

#include <functional>

namespace velloran {

namespace {

QString plotTitle(const RenderJob &job, int side) {
    const SimParameters &p = job.parameters;
    // One pass of arg(): a title (a file name) may itself hold "%1".
    const auto number = [](double value) { return QString::number(value); };
    return QStringLiteral("%1    %2 x %2, vf %3, vd %4, vg %5, sigma %6, dt %7")
        .arg(job.title, QString::number(side), number(p.vf()), number(p.vd()), number(p.vg()),
             number(p.sigma()), number(p.dt()));
}

std::vector<std::int64_t> keyframeSteps(const RenderJob &job) {
    std::vector<std::int64_t> steps;
    for (const KeyframeEntry &keyframe : job.keyframes) {
        steps.push_back(keyframe.step);
    }
    return steps;
}

// The names of the files a run writes into its folder and replaces when it
// starts afresh (metrics.csv is emptied, not replaced).
std::function<bool(const QString &)> runOutputNames(const RunFiles &files,
                                                    const FrameNamePattern &names) {
    return [&files, names](const QString &name) {
        if (name == QLatin1String("convergence.png") || name == checkpointFileName() ||
            isFrameFileName(name, names)) {
            return true;
        }
        for (const auto &writer : files.writers) {
            if (writer->isOwnOutput(name)) {
                return true;
            }
        }
        return false;
    };
}

} // namespace

bool checkRunOutputsReplaceable(const RunFiles &files, const FrameNamePattern &names,
                                QString *error) {
    const auto isOwn = runOutputNames(files, names);
    const QString found = files.folder.firstNonRegularEntry(
        [&](const QString &name) { return name == QLatin1String("metrics.csv") || isOwn(name); });
    if (found.isEmpty()) {
        return true;
    }
    *error = QStringLiteral("could not write '%1': not a regular file").arg(found);
    return false;
}

bool beginRunFiles(const RunFiles &files, const FrameNamePattern &names, const Messages &messages,
                   QString *error) {
    if (!files.metrics.create(error)) {
        return false;
    }
    files.folder.keep();
    const int removed = files.folder.removeEarlierOutput(runOutputNames(files, names));
    if (removed > 0) {
        messages.say(QStringLiteral("removed %1 file(s) of an earlier render from %2")
                         .arg(removed)
                         .arg(quoted(files.folder.path())));
    }
    return true;
}

int finishRun(const RenderJob &job, int side, const RunFiles &files, const RunLoop &loop,
              std::unique_ptr<VideoEncoder> &video, int code, const Messages &messages) {
    QString error;
    bool ok = files.metrics.close(&error);
    QString plotError;
    bool plotted = false;
    {
        const PhaseScope timed(Phase::Plot);
        plotted = writePng(
            files.folder.filePath(QStringLiteral("convergence.png")),
            convergencePlot(loop.history().curve(), plotTitle(job, side), keyframeSteps(job)),
            &plotError);
    }
    if (!plotted && ok) {
        ok = false;
        error = plotError;
    }
    QString videoError;
    // The frames written before an instability are good: keep them too.
    if (video && !video->finish(&videoError) && ok) {
        ok = false;
        error = videoError;
    }
    if (!ok) {
        messages.say(error);
    }
    return code == kExitOk && !ok ? static_cast<int>(kExitOutputFailed) : code;
}

void printSummary(const RenderJob &job, int side, const QString &obstacles, const RunLoop &loop,
                  const std::vector<std::unique_ptr<FrameWriter>> &writers, bool video,
                  FILE *summary) {
    const int step = loop.history().latest().step;
    const int done = step - loop.firstStep();
    const double rate = loop.solverSeconds() > 0 ? done / loop.solverSeconds() : 0.0;
    const StepMetrics &best = loop.history().best();
    QStringList lines;
    lines << parametersLine(job);
    if (!obstacles.isEmpty()) {
        lines << obstacles;
    }
    lines << QStringLiteral("%1 steps of %2 x %2 in %3 s, %4 steps/s (solver only)%5")
                 .arg(done)
                 .arg(side)
                 .arg(loop.sessionSeconds(), 0, 'f', 1)
                 .arg(rate, 0, 'f', 1)
                 .arg(loop.firstStep() > 0
                          ? QStringLiteral(", resumed at step %1").arg(loop.firstStep())
                          : QString());
    lines << QStringLiteral(
                 "distance to target: %1 at step 0, %2 at step %3 (lowest %4 at step %5)")
                 .arg(loop.history().first().distance, 0, 'f', 4)
                 .arg(loop.history().latest().distance, 0, 'f', 4)
                 .arg(step)
                 .arg(best.distance, 0, 'f', 4)
                 .arg(best.step);
    const QString dir = QDir::cleanPath(job.outDir);
    lines << QStringLiteral("output folder: %1").arg(dir);
    for (const auto &writer : writers) {
        lines << writer->summary(dir, loop.frames());
    }
    lines << QStringLiteral("  metrics: %1/metrics.csv").arg(dir);
    lines << QStringLiteral("  plot:    %1/convergence.png").arg(dir);
    if (video) {
        lines << QStringLiteral("  video:   %1").arg(job.video);
    }
    printLine(summary, lines.join(QLatin1Char('\n')));
}

} // namespace velloran
