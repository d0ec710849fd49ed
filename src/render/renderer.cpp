#include "renderer.h"

#include "checkpointhook.h"
#include "checkpointio.h"
#include "examples.h"
#include "framewriter.h"
#include "keyframes.h"
#include "metricsfile.h"
#include "outputfolder.h"
#include "outputnames.h"
#include "progress.h"
#include "runloop.h"
#include "runrecord.h"
#include "runsetup.h"
#include "smokeimage.h"
#include "solverstate.h"
#include "sweeprun.h"
#include "videoencoder.h"

#include "targetschedule.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QStandardPaths>

#include <csignal>
#include <memory>

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace velloran {

namespace {

void printLine(FILE *stream, const QString &text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

QString quoted(const QString &path) {
    return QStringLiteral("'%1'").arg(path);
}

// The program's messages on stderr, each one line starting with its name.
class Messages {
public:
    explicit Messages(FILE *stream)
        : m_stream(stream) {}

    void say(const QString &message) const {
        printLine(m_stream, QStringLiteral("velloran-render: ") + message);
    }
    int fail(const QString &message, int code) const {
        say(message);
        return code;
    }
    FILE *stream() const { return m_stream; }

private:
    FILE *m_stream;
};

bool loadDensities(const RenderJob &job, RunDensities *densities, QString *error) {
    QString reason;
    const RunSetupError setup =
        prepareRun(job.sourcePath, job.targetPath, job.reverse, densities, &reason);
    if (setup == RunSetupError::None) {
        return true;
    }
    const QString path = isSourceProblem(setup) ? job.sourcePath : job.targetPath;
    QString where = path.isEmpty() ? QStringLiteral("no path given") : quoted(path);
    if (!path.isEmpty() && !reason.isEmpty()) {
        where += QStringLiteral(": ") + reason;
    }
    *error = QStringLiteral("%1 (%2)").arg(runSetupMessage(setup), where);
    return false;
}

// A larger target is read in its top-left corner only; the window does so
// silently, the renderer says which part.
QString croppedTargetNote(const RenderJob &job, const RunDensities &densities) {
    const QSize used = densities.sourceSize;
    const QSize target = densities.targetSize;
    if (target == used) {
        return QString();
    }
    return QStringLiteral("the target image %1 is %2 x %3 pixels; the run uses its top-left %4 x "
                          "%5 pixels")
        .arg(quoted(job.targetPath))
        .arg(target.width())
        .arg(target.height())
        .arg(used.width())
        .arg(used.height());
}

// ffmpeg's path, if the job asks for a video; checked before any folder exists.
bool findVideoEncoder(const RenderJob &job, QString *ffmpeg, QString *error) {
    if (job.video.isEmpty()) {
        return true;
    }
    *ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg->isEmpty()) {
        *error = QStringLiteral("--video needs ffmpeg, which is not installed (Debian "
                                "package 'ffmpeg': apt-get install ffmpeg)");
        return false;
    }
    const QFileInfo videoInfo(job.video);
    if (videoInfo.exists() && !videoInfo.isFile()) {
        *error = QStringLiteral("the video file %1 is not a regular file").arg(quoted(job.video));
        return false;
    }
    return true;
}

// Checked once the output folder exists: the video may go into it.
bool startVideo(const RenderJob &job, const QString &ffmpeg, int side,
                std::unique_ptr<VideoEncoder> *video, QString *error) {
    if (job.video.isEmpty()) {
        return true;
    }
    if (!QFileInfo(job.video).absoluteDir().exists()) {
        *error =
            QStringLiteral("the folder of the video file %1 does not exist").arg(quoted(job.video));
        return false;
    }
    auto encoder = std::make_unique<VideoEncoder>();
    if (!encoder->start(ffmpeg, job.video, side, job.alpha, error)) {
        return false;
    }
    *video = std::move(encoder);
    return true;
}

// Everything but the per-frame files, once the run has started: the metrics
// file, the convergence plot.
struct RunFiles {
    OutputFolder &folder;
    MetricsFile &metrics;
    const std::vector<std::unique_ptr<FrameWriter>> &writers;
};

// Starts the metrics file and removes what an earlier render left in the
// folder, so files of two runs never mix.
bool beginRunFiles(const RunFiles &files, const FrameNamePattern &names, const Messages &messages,
                   QString *error) {
    if (!files.metrics.create(error)) {
        return false;
    }
    files.folder.keep();
    const int removed = files.folder.removeEarlierOutput([&](const QString &name) {
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
    });
    if (removed > 0) {
        messages.say(QStringLiteral("removed %1 file(s) of an earlier render from %2")
                         .arg(removed)
                         .arg(quoted(files.folder.path())));
    }
    return true;
}

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

// Metrics, plot and video after the last step, whatever ended the run; the
// first failure is reported and turns success into kExitOutputFailed.
int finishRun(const RenderJob &job, int side, const RunFiles &files, const RunLoop &loop,
              std::unique_ptr<VideoEncoder> &video, int code, const Messages &messages) {
    QString error;
    bool ok = files.metrics.close(&error);
    QString plotError;
    if (!writePng(files.folder.filePath(QStringLiteral("convergence.png")),
                  convergencePlot(loop.history().curve(), plotTitle(job, side), keyframeSteps(job)),
                  &plotError) &&
        ok) {
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

void printSummary(const RenderJob &job, int side, const RunLoop &loop,
                  const std::vector<std::unique_ptr<FrameWriter>> &writers, bool video,
                  FILE *summary) {
    const int step = loop.history().latest().step;
    const int done = step - loop.firstStep();
    const double rate = loop.solverSeconds() > 0 ? done / loop.solverSeconds() : 0.0;
    const StepMetrics &best = loop.history().best();
    QStringList lines;
    lines << parametersLine(job);
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

int listExamples() {
    for (const Example &example : bundledExamples()) {
        RenderJob job;
        QStringList notes;
        QString error;
        RenderOptions exampleOptions;
        exampleOptions.example = example.name;
        if (!resolveJob(exampleOptions, &job, &notes, &error)) {
            return Messages(stderr).fail(error, kExitBadInput);
        }
        const SimParameters &p = job.parameters;
        printLine(stdout, QStringLiteral("%1\n    %2\n    vf %3, vd %4, vg %5, sigma %6, dt %7; "
                                         "%8 steps, a frame every %9")
                              .arg(example.name, example.description)
                              .arg(p.vf())
                              .arg(p.vd())
                              .arg(p.vg())
                              .arg(p.sigma())
                              .arg(p.dt())
                              .arg(example.steps)
                              .arg(example.every));
    }
    // The files themselves, for the desktop program or a copy to change.
    const QString folder = examplesFolder();
    if (!folder.isEmpty()) {
        printLine(stdout, QStringLiteral("configuration files and images: %1")
                              .arg(QDir::toNativeSeparators(folder)));
    }
    return kExitOk;
}

} // namespace

namespace {

// The keyframes' targets, loaded and checked before anything is created.
bool loadSchedule(const RenderJob &job, const RunDensities &densities,
                  std::unique_ptr<TargetSchedule> *schedule, QString *error) {
    if (job.keyframes.empty()) {
        return true;
    }
    const int side = static_cast<int>(densities.srcDensity.NumCols());
    std::vector<Keyframe> targets;
    if (!loadKeyframeTargets(job.keyframes, QImageReader(job.targetPath).size(), side, &targets,
                             error)) {
        return false;
    }
    *schedule = std::make_unique<TargetSchedule>(densities.tgtDensity, std::move(targets));
    return true;
}

// A resumed run's checks once its folder is locked, and the solver brought to
// the checkpoint's state. Nothing in the folder has changed yet.
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
    if (!job.png) {
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

int runJob(const RenderJob &job, FILE *progressStream, FILE *summary, const QStringList &notes,
           const Checkpoint *resume) {
    const Messages messages(progressStream ? progressStream : stderr);
    QString error;

    // Every input is checked before anything is created.
    RunDensities densities;
    if (!loadDensities(job, &densities, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    const int side = static_cast<int>(densities.srcDensity.NumCols());
    std::unique_ptr<TargetSchedule> schedule;
    if (!loadSchedule(job, densities, &schedule, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    CheckpointRun record;
    if (resume) {
        record = resume->run;
    } else if (job.checkpointEvery > 0 && !recordRun(job, side, &record, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    QString ffmpeg;
    if (!findVideoEncoder(job, &ffmpeg, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    for (const QString &note : notes) {
        messages.say(note);
    }
    // A resumed run said so when it started.
    const QString cropped = resume ? QString() : croppedTargetNote(job, densities);
    if (!cropped.isEmpty()) {
        messages.say(cropped);
    }

    const auto writers = makeFrameWriters(job, job.outDir);
    if (!checkOutputNames(job, writers, &error)) {
        return messages.fail(error, kExitBadInput);
    }

    // From here on, leaving early undoes what was done: the folder and its
    // lock go with `folder`, the partial video with `video`.
    OutputFolder folder(job.outDir);
    if (folder.prepare(&error) != OutputFolder::Result::Ready) {
        return messages.fail(error, kExitBadInput);
    }
    std::unique_ptr<Solver> solver =
        makeSolver(densities.srcDensity, densities.tgtDensity, job.parameters);
    solver->setScheme(job.scheme);
    if (resume && !prepareResume(*resume, side, folder, *solver, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    std::unique_ptr<VideoEncoder> video;
    if (!startVideo(job, ffmpeg, side, &video, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    MetricsFile metrics(folder.filePath(QStringLiteral("metrics.csv")));
    const RunFiles files{folder, metrics, writers};
    int framesBefore = 0;
    if (resume) {
        if (!metrics.resume(static_cast<qint64>(resume->metricsBytes), resume->metricsCrc,
                            &error)) {
            return messages.fail(error, kExitOutputFailed);
        }
        folder.keep();
        framesBefore = static_cast<int>(resume->frames);
        if (removeFramesAfter(folder, job, *resume)) {
            --framesBefore;
        }
        if (video) {
            replayVideo(job, resume->step, *video, messages);
        }
    } else if (!beginRunFiles(files, job.names, messages, &error)) {
        return messages.fail(error, kExitBadInput);
    }

    Progress progress(progressStream, job.quiet, job.steps);
    RunLoop loop(*solver, job.steps, job.every, {metrics, writers, video}, progress,
                 messages.stream());
    loop.setSchedule(schedule.get());
    if (job.alpha) {
        loop.showVideoInColour(job.colour);
    }
    if (resume) {
        loop.resumeAt(resume->step, MetricsHistory(resume->history), framesBefore,
                      resume->history.latest.seconds);
        progress.startAt(resume->step);
    }
    std::unique_ptr<CheckpointHook> checkpoints;
    if (job.checkpointEvery > 0) {
        checkpoints = std::make_unique<CheckpointHook>(job.outDir, record, job.checkpointEvery,
                                                       job.steps, metrics, loop, schedule.get());
        loop.addHook(checkpoints.get());
    }
    const RunLoop::Result result = loop.run();
    progress.close();

    switch (result.end) {
    case RunLoop::End::OutputFailed:
        metrics.close(&error); // the rows before the failure, if it was not theirs
        return messages.fail(result.error, kExitOutputFailed);
    case RunLoop::End::Unstable:
        finishRun(job, side, files, loop, video, kExitUnstable, messages);
        return messages.fail(QStringLiteral("unstable: the density or velocity became "
                                            "non-finite at step %1; output kept in %2")
                                 .arg(result.step)
                                 .arg(quoted(job.outDir)),
                             kExitUnstable);
    case RunLoop::End::Interrupted:
    case RunLoop::End::Completed:
        break;
    }
    const bool interrupted = result.end == RunLoop::End::Interrupted;
    const int code = finishRun(job, side, files, loop, video,
                               interrupted ? interruptExitCode(result.signal) : kExitOk, messages);
    if (code == kExitOutputFailed && !result.videoFailed) {
        return code;
    }
    if (interrupted) {
        messages.say(result.signal == SIGINT
                         ? QStringLiteral("interrupted after step %1").arg(result.step)
                         : QStringLiteral("stopped by %1 after step %2")
                               .arg(QLatin1String(signalName(result.signal)))
                               .arg(result.step));
    }
    if (summary) {
        printSummary(job, side, loop, writers, video != nullptr, summary);
    }
    return code == kExitOk && result.videoFailed ? static_cast<int>(kExitOutputFailed) : code;
}

// --resume DIR: the job comes from the folder's checkpoint.
static int resumeMain(const RenderOptions &options) {
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

int renderMain(const QStringList &arguments) {
    RenderOptions options;
    QString error;
    if (!parseRenderOptions(arguments, &options, &error)) {
        return Messages(stderr).fail(QStringLiteral("%1 (see --help)").arg(error), kExitBadInput);
    }
    if (options.help) {
        printLine(stdout, renderUsage());
        return kExitOk;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("velloran-render " VELLORAN_VERSION));
        return kExitOk;
    }
    if (options.listExamples) {
        return listExamples();
    }
    if (!options.resumeDir.isEmpty()) {
        return resumeMain(options);
    }
    if (!options.sweepPath.isEmpty()) {
        return sweepMain(options);
    }
    RenderJob job;
    QStringList notes;
    if (!resolveJob(options, &job, &notes, &error)) {
        return Messages(stderr).fail(error, kExitBadInput);
    }
    installInterruptHandler();
    return runJob(job, stderr, stdout, notes);
}

} // namespace velloran
