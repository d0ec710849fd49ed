#include "resumerun.h"

#include "frameformats.h"
#include "interruption.h"
#include "jobrecord.h"
#include "renderer.h"
#include "smokeimage.h"
#include "solverstate.h"

#include <QDir>
#include <QImage>

namespace velloran {

namespace {

// The per-frame files of steps after the checkpoint are written again by the
// resumed run, and an extra frame at the checkpoint's own step goes too when
// the run continues past it, so the folder ends as an uninterrupted run leaves
// it. Returns whether the checkpoint's frame went.
bool removeFramesAfter(OutputFolder &folder, const RenderJob &job, const Checkpoint &checkpoint) {
    const int step = checkpoint.step;
    const bool dropOwn = checkpoint.extraFrame && step < job.steps;
    folder.removeEarlierOutput([&](const QString &name) {
        const std::optional<int> frame = frameFileStep(name, job.names);
        return frame && (*frame > step || (*frame == step && dropOwn));
    });
    return dropOwn;
}

// A resumed run's video starts with the frames before the checkpoint, read
// back from their PNG files.
void replayVideo(const RenderJob &job, int step, VideoEncoder &video, const Messages &messages) {
    if (!job.formats.contains(QLatin1String("png"))) {
        messages.say(QStringLiteral("the video starts at step %1: the frames before it were "
                                    "not written as PNG")
                         .arg(step));
        return;
    }
    std::vector<int> frames;
    for (int frame = 0; frame <= step; frame += job.every) {
        frames.push_back(frame);
    }
    if (step == job.steps && step % job.every != 0) {
        frames.push_back(step); // a finished run's last frame
    }
    for (const int frame : frames) {
        const QString path =
            QDir(job.outDir).filePath(job.names.frameName(frame, QStringLiteral("png")));
        const QImage image(path);
        QString error;
        if (image.isNull()) {
            messages.say(QStringLiteral("the video lacks frame %1: %2 cannot be read")
                             .arg(frame)
                             .arg(quoted(path)));
        } else if (!video.addFrame(job.alpha ? overBlack(image) : image, &error)) {
            messages.say(error);
            return;
        }
    }
}

} // namespace

bool prepareResume(const Checkpoint &checkpoint, int side, const OutputFolder &folder,
                   Solver &solver, QString *error) {
    QString reason;
    if (side != checkpoint.run.side) {
        *error = QStringLiteral("cannot resume: the images make a %1 x %1 run, the checkpoint's "
                                "is %2 x %2")
                     .arg(side)
                     .arg(checkpoint.run.side);
        return false;
    }
    if (!checkMetricsPrefix(folder.filePath(QStringLiteral("metrics.csv")),
                            static_cast<qint64>(checkpoint.metricsBytes), checkpoint.metricsCrc,
                            &reason) ||
        !restoreSolverState(checkpoint.grids, solver, &reason)) {
        *error = QStringLiteral("cannot resume: %1").arg(reason);
        return false;
    }
    return true;
}

bool resumeRunFiles(const RenderJob &job, const Checkpoint &checkpoint, const RunFiles &files,
                    VideoEncoder *video, const Messages &messages, int *framesBefore,
                    QString *error) {
    if (!files.metrics.resume(static_cast<qint64>(checkpoint.metricsBytes), checkpoint.metricsCrc,
                              error)) {
        return false;
    }
    files.folder.keep();
    *framesBefore = static_cast<int>(checkpoint.frames);
    if (removeFramesAfter(files.folder, job, checkpoint)) {
        --*framesBefore;
    }
    if (video) {
        replayVideo(job, checkpoint.step, *video, messages);
    }
    return true;
}

int resumeMain(const RenderOptions &options) {
    const Messages messages(stderr);
    QString error;
    Checkpoint checkpoint;
    if (!loadCheckpoint(options.resumeDir, &checkpoint, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    // The parser let through only what leaves the run as it was.
    RenderJob job = jobOfRecord(checkpoint.run, options.resumeDir);
    QStringList notes;
    if (!applyOverrides(options.job, &job, &notes, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    const int reached = checkpoint.step;
    if (job.steps < reached) {
        return messages.fail(QStringLiteral("cannot resume: the run in %1 is already at step %2; "
                                            "--steps %3 would go back")
                                 .arg(quoted(options.resumeDir), QString::number(reached),
                                      QString::number(job.steps)),
                             kExitBadInput);
    }
    if (job.steps == reached) {
        // Still finished again: a run killed after its last checkpoint may lack
        // its plot, or hold metrics rows past it.
        messages.say(QStringLiteral("the run in %1 has already reached step %2 "
                                    "(--steps N continues it to step N)")
                         .arg(quoted(options.resumeDir), QString::number(reached)));
    }
    if (!runImagesUnchanged(checkpoint.run, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    installInterruptHandler();
    return runJob(job, stderr, stdout, {}, &checkpoint);
}

} // namespace velloran
