#include "jobinputs.h"

#include "colourfields.h"
#include "colourjob.h"
#include "colourkeyframes.h"

#include "jobrecord.h"
#include "keyframes.h"
#include "messages.h"
#include "obstacleimage.h"
#include "obstaclemask.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QStandardPaths>

namespace velloran {

namespace {

bool loadPair(const QString &sourcePath, const QString &targetPath, bool reverse,
              RunDensities *densities, QString *error) {
    QString reason;
    const RunSetupError setup = prepareRun(sourcePath, targetPath, reverse, densities, &reason);
    if (setup == RunSetupError::None) {
        return true;
    }
    const QString path = isSourceProblem(setup) ? sourcePath : targetPath;
    QString where = path.isEmpty() ? QStringLiteral("no path given") : quoted(path);
    if (!path.isEmpty() && !reason.isEmpty()) {
        where += QStringLiteral(": ") + reason;
    }
    *error = QStringLiteral("%1 (%2)").arg(runSetupMessage(setup), where);
    return false;
}

// A colour run's fields, each pair checked as a grey run's, all of one size.
bool loadFields(const RenderJob &job, JobInputs *inputs, QString *error) {
    for (const ColourField &field : job.fields) {
        RunDensities densities;
        const QString label = QStringLiteral("--field #%1: ").arg(field.colour.hex());
        if (!loadPair(field.sourcePath, field.targetPath, job.reverse, &densities, error)) {
            *error = label + *error;
            return false;
        }
        const QSize first =
            inputs->fields.empty() ? densities.sourceSize : inputs->fields.front().sourceSize;
        if (densities.sourceSize != first) {
            *error = label + QStringLiteral("its source is %1 x %2 pixels, the first field's "
                                            "%3 x %4; every field needs the same size")
                                 .arg(densities.sourceSize.width())
                                 .arg(densities.sourceSize.height())
                                 .arg(first.width())
                                 .arg(first.height());
            return false;
        }
        inputs->fields.push_back(std::move(densities));
    }
    inputs->densities = inputs->fields.front();
    return true;
}

bool loadPaletteFields(const RenderJob &job, JobInputs *inputs, QString *error) {
    ColourFields colour;
    if (!readColourFields(job.sourcePath, job.targetPath, job.reverse, *job.palette, &colour,
                          error)) {
        *error = QStringLiteral("--palette %1: %2").arg(paletteRequestText(*job.palette), *error);
        return false;
    }
    inputs->fields = std::move(colour.fields);
    inputs->colours = std::move(colour.palette.colours);
    inputs->background = colour.palette.background;
    inputs->densities = inputs->fields.front();
    return true;
}

bool loadDensities(const RenderJob &job, JobInputs *inputs, QString *error) {
    if (job.palette) {
        return loadPaletteFields(job, inputs, error);
    }
    if (!job.fields.empty()) {
        return loadFields(job, inputs, error);
    }
    return loadPair(job.sourcePath, job.targetPath, job.reverse, &inputs->densities, error);
}

// A colour run's keyframes: one schedule per field.
bool loadColourSchedule(const RenderJob &job, JobInputs *inputs, QString *error) {
    const Palette palette{inputs->background, inputs->colours};
    std::vector<std::unique_ptr<TargetSchedule>> schedules;
    if (!loadColourSchedules(job.keyframes, inputs->fields, job.palette ? &palette : nullptr,
                             fieldColours(job.fields), &schedules, error)) {
        return false;
    }
    inputs->schedule = std::move(schedules.front());
    inputs->fieldSchedules.assign(std::make_move_iterator(schedules.begin() + 1),
                                  std::make_move_iterator(schedules.end()));
    return true;
}

// The keyframes' targets, loaded and checked before anything is created.
bool loadSchedule(const RenderJob &job, JobInputs *inputs, QString *error) {
    if (job.keyframes.empty()) {
        return true;
    }
    if (!inputs->fields.empty()) {
        return loadColourSchedule(job, inputs, error);
    }
    const RunDensities &densities = inputs->densities;
    std::unique_ptr<TargetSchedule> *schedule = &inputs->schedule;
    const int side = static_cast<int>(densities.srcDensity.NumCols());
    std::vector<Keyframe> targets;
    if (!loadKeyframeTargets(job.keyframes, QImageReader(job.targetPath).size(), side, &targets,
                             error)) {
        return false;
    }
    *schedule = std::make_unique<TargetSchedule>(densities.tgtDensity, std::move(targets));
    return true;
}

// The smoke fields as the solver takes them.
std::vector<SmokeInput> smokeInputs(const JobInputs &inputs) {
    if (inputs.fields.empty()) {
        return {{&inputs.densities.srcDensity, &inputs.densities.tgtDensity}};
    }
    std::vector<SmokeInput> smoke;
    for (const RunDensities &field : inputs.fields) {
        smoke.push_back(SmokeInput{&field.srcDensity, &field.tgtDensity});
    }
    return smoke;
}

// The obstacle image made into the run's mask, and checked against the run.
bool loadJobObstacles(const RenderJob &job, JobInputs *inputs, QString *error) {
    if (job.obstaclesPath.isEmpty()) {
        return true;
    }
    // Refused before the image is even read: no image makes a literal run able.
    if (job.scheme != Scheme::Sound) {
        *error = QStringLiteral("obstacle image %1: %2 (--scheme sound)")
                     .arg(quoted(job.obstaclesPath), obstacleRefusal(job.scheme, {}, Grid(1, 1)));
        return false;
    }
    Grid mask(1, 1);
    QString reason;
    if (!loadObstacles(job.obstaclesPath, inputs->side, &mask, &reason)) {
        *error = QStringLiteral("could not load obstacle image %1: %2")
                     .arg(quoted(job.obstaclesPath), reason);
        return false;
    }
    const QString refusal = obstacleRefusal(job.scheme, smokeInputs(*inputs), mask);
    if (!refusal.isEmpty()) {
        *error = QStringLiteral("obstacle image %1: %2").arg(quoted(job.obstaclesPath), refusal);
        return false;
    }
    inputs->obstacles = std::move(mask);
    return true;
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

// A palette run is split again on resume; the images are the checkpoint's, so
// a different split means the palette itself was found differently, and the
// saved fields would be coloured wrongly.
bool samePaletteColours(const RenderJob &job, const JobInputs &inputs, const CheckpointRun &record,
                        QString *error) {
    if (!job.palette) {
        return true;
    }
    QStringList now;
    QStringList then;
    for (const SmokeColour &colour : inputs.colours) {
        now << QStringLiteral("#") + colour.hex();
    }
    for (const RecordedField &field : record.fields) {
        then << QStringLiteral("#") + field.colour.hex();
    }
    if (now != then) {
        *error = QStringLiteral("cannot resume: the palette now gives %1, the checkpoint's run had "
                                "%2")
                     .arg(now.join(QStringLiteral(", ")), then.join(QStringLiteral(", ")));
        return false;
    }
    return true;
}

} // namespace

bool checkJobInputs(const RenderJob &job, const Checkpoint *resume, JobInputs *inputs,
                    QString *error) {
    if (!loadDensities(job, inputs, error)) {
        return false;
    }
    inputs->side = static_cast<int>(inputs->densities.srcDensity.NumCols());
    if (!loadJobObstacles(job, inputs, error) || !loadSchedule(job, inputs, error)) {
        return false;
    }
    if (resume) {
        inputs->record = resume->run;
        if (!samePaletteColours(job, *inputs, resume->run, error)) {
            return false;
        }
    } else if (job.checkpointEvery > 0 &&
               !recordRun(job.palette ? withPaletteFields(job, inputs->colours) : job, inputs->side,
                          &inputs->record, error)) {
        return false;
    }
    return findVideoEncoder(job, &inputs->ffmpeg, error);
}

std::unique_ptr<Solver> makeJobSolver(const RenderJob &job, const JobInputs &inputs) {
    std::unique_ptr<Solver> solver =
        inputs.obstacles ? makeSolver(smokeInputs(inputs), job.parameters, *inputs.obstacles)
                         : makeSolver(smokeInputs(inputs), job.parameters);
    solver->setScheme(job.scheme);
    return solver;
}

QString obstaclesNote(const RenderJob &job, const JobInputs &inputs) {
    if (!inputs.obstacles) {
        return QString();
    }
    return QStringLiteral("obstacles: %1 (%2 of %3 x %3 cells solid)")
        .arg(quoted(job.obstaclesPath))
        .arg(solidCellCount(*inputs.obstacles))
        .arg(inputs.side);
}

QString croppedTargetNote(const RenderJob &job, const RunDensities &densities) {
    const QSize used = densities.sourceSize;
    const QSize target = densities.targetSize;
    if (target == used) {
        return QString();
    }
    return QStringLiteral("the target image %1 is %2 x %3 pixels; the run uses its top-left %4 x "
                          "%5 pixels")
        .arg(quoted(job.fields.empty() ? job.targetPath : job.fields.front().targetPath))
        .arg(target.width())
        .arg(target.height())
        .arg(used.width())
        .arg(used.height());
}

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
    if (!encoder->start(ffmpeg, job.video, side, job.alpha || !job.fields.empty(), error)) {
        return false;
    }
    *video = std::move(encoder);
    return true;
}

} // namespace velloran
