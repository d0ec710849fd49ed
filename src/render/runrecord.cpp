#include "runrecord.h"

#include <QFileInfo>

namespace velloran {

bool recordRun(const RenderJob &job, int side, CheckpointRun *run, QString *error) {
    CheckpointRun result;
    const auto fingerprint = [&](const QString &path, ImageFingerprint *out) {
        QString reason;
        const std::optional<ImageFingerprint> image = fingerprintImage(path, &reason);
        if (!image) {
            *error = QStringLiteral("could not read '%1' for the checkpoint: %2").arg(path, reason);
            return false;
        }
        *out = *image;
        return true;
    };
    if (!fingerprint(job.sourcePath, &result.source) ||
        !fingerprint(job.targetPath, &result.target)) {
        return false;
    }
    for (const KeyframeEntry &entry : job.keyframes) {
        CheckpointKeyframe keyframe;
        keyframe.step = entry.step;
        keyframe.blend = entry.blend;
        if (!fingerprint(entry.image, &keyframe.image)) {
            return false;
        }
        result.keyframes.push_back(keyframe);
    }
    result.reverse = job.reverse;
    result.parameters = job.parameters;
    result.scheme = static_cast<std::int32_t>(job.scheme);
    result.side = side;
    result.steps = job.steps;
    result.every = job.every;
    result.png = job.formats.contains(QLatin1String("png"));
    result.npy = job.formats.contains(QLatin1String("npy"));
    result.exr = job.formats.contains(QLatin1String("exr"));
    result.vdb = job.formats.contains(QLatin1String("vdb"));
    result.vdbFloat = job.vdbFloat;
    result.vdbVelocityName = job.vdbVelocityName;
    result.alpha = job.alpha;
    result.colour = job.colour;
    result.namePattern = job.names.text();
    result.title = job.title;
    result.video = job.video.isEmpty() ? QString() : QFileInfo(job.video).absoluteFilePath();
    result.checkpointEvery = job.checkpointEvery;
    *run = result;
    return true;
}

RenderJob jobOfRecord(const CheckpointRun &run, const QString &folder) {
    RenderJob job;
    job.sourcePath = run.source.absolutePath;
    job.targetPath = run.target.absolutePath;
    job.reverse = run.reverse;
    job.parameters = run.parameters;
    job.scheme =
        run.scheme == static_cast<std::int32_t>(Scheme::Sound) ? Scheme::Sound : Scheme::Literal;
    for (const CheckpointKeyframe &keyframe : run.keyframes) {
        job.keyframes.push_back({keyframe.step, keyframe.image.absolutePath, keyframe.blend});
    }
    job.steps = run.steps;
    job.every = run.every;
    job.outDir = folder;
    job.formats.clear();
    for (const auto &[name, on] : {std::pair{"png", run.png}, std::pair{"exr", run.exr},
                                   std::pair{"vdb", run.vdb}, std::pair{"npy", run.npy}}) {
        if (on) {
            job.formats << QLatin1String(name);
        }
    }
    job.vdbFloat = run.vdbFloat;
    job.vdbVelocityName = run.vdbVelocityName;
    job.alpha = run.alpha;
    job.colour = run.colour;
    QString error;
    // Checked when the checkpoint was read (checkCheckpointValues).
    job.names = FrameNamePattern::parse(run.namePattern, &error).value_or(FrameNamePattern());
    job.title = run.title;
    job.video = run.video;
    job.checkpointEvery = run.checkpointEvery;
    return job;
}

} // namespace velloran
