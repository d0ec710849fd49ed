#include "renderer.h"

#include "checkpointhook.h"
#include "colourjob.h"
#include "examples.h"
#include "jobinputs.h"
#include "messages.h"
#include "outputnames.h"
#include "progress.h"
#include "resumerun.h"
#include "runfiles.h"
#include "runloop.h"
#include "sweeprun.h"

#include <QDir>

#include <csignal>
#include <memory>

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace velloran {

namespace {

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

// How the steps ended, told and turned into the exit status once the run's
// files are finished.
int endRun(const RenderJob &job, const JobInputs &inputs, const RunFiles &files,
           const RunLoop &loop, const RunLoop::Result &result, std::unique_ptr<VideoEncoder> &video,
           FILE *summary, const Messages &messages) {
    const int side = inputs.side;
    switch (result.end) {
    case RunLoop::End::OutputFailed: {
        QString error;
        files.metrics.close(&error); // the rows before the failure, if it was not theirs
        return messages.fail(result.error, kExitOutputFailed);
    }
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
        printSummary(job, side, obstaclesNote(job, inputs), loop, files.writers, video != nullptr,
                     summary);
    }
    return code == kExitOk && result.videoFailed ? static_cast<int>(kExitOutputFailed) : code;
}

// The steps, from step 0 or from the checkpoint's, with the frames, metrics,
// checkpoints and video they write.
int runSteps(const RenderJob &job, const JobInputs &inputs, Run &run, const RunFiles &files,
             std::unique_ptr<VideoEncoder> &video, const Checkpoint *resume, int framesBefore,
             FILE *progressStream, FILE *summary, const Messages &messages) {
    Progress progress(progressStream, job.quiet, job.steps);
    RunLoop loop(run, job.steps, job.every, {files.metrics, files.writers, video}, progress,
                 messages.stream());
    if (job.alpha) {
        loop.showVideoInColour(job.colour);
    }
    if (const std::optional<ColourPicture> picture = frameSettings(job).picture) {
        loop.showColourPicture(*picture);
    }
    if (resume) {
        loop.resumeAt(resume->step, MetricsHistory(resume->history), framesBefore,
                      resume->history.latest.seconds);
        progress.startAt(resume->step);
    }
    std::unique_ptr<CheckpointHook> checkpoints;
    if (job.checkpointEvery > 0) {
        checkpoints =
            std::make_unique<CheckpointHook>(job.outDir, inputs.record, job.checkpointEvery,
                                             job.steps, files.metrics, loop, run.schedule());
        run.addObserver(checkpoints.get());
    }
    const RunLoop::Result result = loop.run();
    progress.close();
    return endRun(job, inputs, files, loop, result, video, summary, messages);
}

} // namespace

int runJob(const RenderJob &requested, FILE *progressStream, FILE *summary,
           const QStringList &notes, const Checkpoint *resume) {
    const Messages messages(progressStream ? progressStream : stderr);
    QString error;

    // Every input is checked before anything is created.
    JobInputs inputs;
    if (!checkJobInputs(requested, resume, &inputs, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    const RenderJob job =
        requested.palette ? withPaletteFields(requested, inputs.colours) : requested;
    for (const QString &note : notes) {
        messages.say(note);
    }
    if (requested.palette) {
        QStringList names;
        for (const SmokeColour &colour : inputs.colours) {
            names << QStringLiteral("#") + colour.hex();
        }
        messages.say(QStringLiteral("palette: %1").arg(names.join(QStringLiteral(", "))));
    }
    // A resumed run said so when it started.
    const QString cropped = resume ? QString() : croppedTargetNote(job, inputs.densities);
    if (!cropped.isEmpty()) {
        messages.say(cropped);
    }
    const auto writers = makeFrameWriters(job.formats, job.outDir, frameSettings(job));
    if (!checkOutputNames(job, writers, &error)) {
        return messages.fail(error, kExitBadInput);
    }

    // From here on, leaving early undoes what was done: the folder and its
    // lock go with `folder`, the partial video with `video`.
    OutputFolder folder(job.outDir);
    if (folder.prepare(&error) != OutputFolder::Result::Ready) {
        return messages.fail(error, kExitBadInput);
    }
    std::unique_ptr<Solver> solver = makeJobSolver(job, inputs);
    if (resume && !prepareResume(*resume, inputs.side, folder, *solver, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    MetricsFile metrics(folder.filePath(QStringLiteral("metrics.csv")));
    if (job.fields.size() > 1) {
        QStringList names;
        for (const ColourField &field : job.fields) {
            names << field.colour.hex();
        }
        metrics.setFieldNames(names);
    }
    metrics.setColourError(!job.fields.empty());
    const RunFiles files{folder, metrics, writers};
    if (!checkRunOutputsReplaceable(files, job.names, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    std::unique_ptr<VideoEncoder> video;
    if (!startVideo(job, inputs.ffmpeg, inputs.side, &video, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    int framesBefore = 0;
    if (resume) {
        if (!resumeRunFiles(job, *resume, files, video.get(), messages, &framesBefore, &error)) {
            return messages.fail(error, kExitOutputFailed);
        }
    } else if (!beginRunFiles(files, job.names, messages, &error)) {
        return messages.fail(error, kExitBadInput);
    }
    Run run(std::move(solver), std::move(inputs.schedule));
    run.setFieldSchedules(std::move(inputs.fieldSchedules));
    return runSteps(job, inputs, run, files, video, resume, framesBefore, progressStream, summary,
                    messages);
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
