#include "jobrecord.h"

#include "checkpointbytes.h"

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
    for (const ColourField &field : job.fields) {
        RecordedField recorded{field.colour, {}, {}};
        if (!fingerprint(field.sourcePath, &recorded.source) ||
            !fingerprint(field.targetPath, &recorded.target)) {
            return false;
        }
        result.fields.push_back(recorded);
    }
    // A run given field by field has no source and target of its own; its
    // first field's stand for them.
    if (job.sourcePath.isEmpty() && !result.fields.empty()) {
        result.source = result.fields.front().source;
        result.target = result.fields.front().target;
    } else if (!fingerprint(job.sourcePath, &result.source) ||
               !fingerprint(job.targetPath, &result.target)) {
        return false;
    }
    for (const KeyframeEntry &entry : job.keyframes) {
        result.keyframeImages.emplace_back();
        if (!fingerprint(entry.image, &result.keyframeImages.back())) {
            return false;
        }
    }
    if (!job.obstaclesPath.isEmpty()) {
        result.obstacles.emplace();
        if (!fingerprint(job.obstaclesPath, &*result.obstacles)) {
            return false;
        }
    }
    result.job = job;
    result.job.sourcePath = result.source.absolutePath;
    result.job.targetPath = result.target.absolutePath;
    for (std::size_t k = 0; k < job.keyframes.size(); ++k) {
        result.job.keyframes[k].image = result.keyframeImages[k].absolutePath;
    }
    if (result.obstacles) {
        result.job.obstaclesPath = result.obstacles->absolutePath;
    }
    // A palette run is recorded as asked; its fields are split again on resume.
    result.job.fields.clear();
    if (!job.palette) {
        for (const RecordedField &field : result.fields) {
            result.job.fields.push_back(
                ColourField{field.colour, field.source.absolutePath, field.target.absolutePath});
        }
    }
    result.job.video = job.video.isEmpty() ? QString() : QFileInfo(job.video).absoluteFilePath();
    result.side = side;
    *run = result;
    return true;
}

RenderJob jobOfRecord(const CheckpointRun &run, const QString &folder) {
    RenderJob job = run.job;
    job.outDir = folder;
    return job;
}

namespace checkpointbytes {

namespace {

void writeFingerprint(Writer &w, const ImageFingerprint &image) {
    w.text(image.path);
    w.text(image.absolutePath);
    w.bytes(image.sha256);
}

ImageFingerprint readFingerprint(Reader &r) {
    ImageFingerprint image;
    image.path = r.text();
    image.absolutePath = r.text();
    image.sha256 = r.bytes();
    return image;
}

// What the run is made of: images, parameters, scheme, keyframes, size.
void writeInputs(Writer &w, const CheckpointRun &run) {
    const RenderJob &job = run.job;
    writeFingerprint(w, run.source);
    writeFingerprint(w, run.target);
    w.u8(job.reverse);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        w.f64(job.parameters[k]);
    }
    w.integer(static_cast<std::int32_t>(job.scheme));
    w.integer(static_cast<std::uint32_t>(job.keyframes.size()));
    for (std::size_t k = 0; k < job.keyframes.size(); ++k) {
        w.integer<std::int64_t>(job.keyframes[k].step);
        // A run made without image files (the Python module's) has none.
        writeFingerprint(w, k < run.keyframeImages.size() ? run.keyframeImages[k]
                                                          : ImageFingerprint{});
        w.integer<std::int64_t>(job.keyframes[k].blend);
    }
    w.integer<std::int32_t>(run.side);
}

void readInputs(Reader &r, CheckpointRun *run) {
    RenderJob &job = run->job;
    run->source = readFingerprint(r);
    run->target = readFingerprint(r);
    job.sourcePath = run->source.absolutePath;
    job.targetPath = run->target.absolutePath;
    job.reverse = r.u8();
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        job.parameters[k] = r.f64();
    }
    // Any value is kept for checkCheckpointValues to name.
    job.scheme = static_cast<Scheme>(r.integer<std::int32_t>());
    const auto keyframes = r.integer<std::uint32_t>();
    // Each keyframe takes at least 28 bytes; a larger count is damage.
    if (keyframes > r.left() / 28) {
        r.fail();
    }
    for (std::uint32_t k = 0; k < keyframes && r.ok(); ++k) {
        KeyframeEntry entry;
        entry.step = r.integer<std::int64_t>();
        run->keyframeImages.push_back(readFingerprint(r));
        entry.image = run->keyframeImages.back().absolutePath;
        entry.blend = r.integer<std::int64_t>();
        job.keyframes.push_back(entry);
    }
    run->side = r.integer<std::int32_t>();
}

void writeColour(Writer &w, const SmokeColour &colour) {
    w.integer(colour.red);
    w.integer(colour.green);
    w.integer(colour.blue);
}

SmokeColour readColour(Reader &r) {
    SmokeColour colour;
    colour.red = r.integer<std::uint8_t>();
    colour.green = r.integer<std::uint8_t>();
    colour.blue = r.integer<std::uint8_t>();
    return colour;
}

// A colour run: how it is drawn, the palette it asked for, and its fields.
void writeColourRun(Writer &w, const CheckpointRun &run) {
    const RenderJob &job = run.job;
    w.u8(job.colourMode == ColourMode::Dark);
    w.u8(job.palette.has_value());
    if (job.palette) {
        w.integer(static_cast<std::uint32_t>(job.palette->colours.size()));
        for (const SmokeColour &colour : job.palette->colours) {
            writeColour(w, colour);
        }
        w.integer<std::int32_t>(job.palette->count);
    }
    w.integer(static_cast<std::uint32_t>(run.fields.size()));
    for (const RecordedField &field : run.fields) {
        writeColour(w, field.colour);
        writeFingerprint(w, field.source);
        writeFingerprint(w, field.target);
    }
}

void readColourRun(Reader &r, CheckpointRun *run) {
    RenderJob &job = run->job;
    job.colourMode = r.u8() ? ColourMode::Dark : ColourMode::Light;
    if (r.u8()) {
        PaletteRequest palette;
        const auto colours = r.integer<std::uint32_t>();
        if (colours > static_cast<std::uint32_t>(kMaxColourFields)) {
            r.fail();
        }
        for (std::uint32_t k = 0; k < colours && r.ok(); ++k) {
            palette.colours.push_back(readColour(r));
        }
        palette.count = r.integer<std::int32_t>();
        job.palette = palette;
    }
    const auto fields = r.integer<std::uint32_t>();
    if (fields > static_cast<std::uint32_t>(kMaxColourFields)) {
        r.fail();
    }
    for (std::uint32_t k = 0; k < fields && r.ok(); ++k) {
        RecordedField field;
        field.colour = readColour(r);
        field.source = readFingerprint(r);
        field.target = readFingerprint(r);
        run->fields.push_back(field);
        if (!job.palette) {
            job.fields.push_back(
                ColourField{field.colour, field.source.absolutePath, field.target.absolutePath});
        }
    }
    // A run given field by field names its images there alone.
    if (!job.fields.empty()) {
        job.sourcePath.clear();
        job.targetPath.clear();
    }
}

} // namespace

void writeJobRecord(Writer &w, const CheckpointRun &run) {
    const RenderJob &job = run.job;
    writeInputs(w, run);
    w.integer<std::int32_t>(job.steps);
    w.integer<std::int32_t>(job.every);
    w.integer(static_cast<std::uint32_t>(job.formats.size()));
    for (const QString &format : job.formats) {
        w.text(format);
    }
    w.u8(job.alpha);
    writeColour(w, job.colour);
    w.text(job.names.text());
    w.u8(job.vdbFloat);
    w.text(job.vdbVelocityName);
    w.text(job.title);
    w.text(job.video);
    w.integer<std::int32_t>(job.checkpointEvery);
    w.u8(run.obstacles.has_value());
    if (run.obstacles) {
        writeFingerprint(w, *run.obstacles);
    }
    writeColourRun(w, run);
}

void readJobRecord(Reader &r, std::uint32_t version, CheckpointRun *run) {
    RenderJob &job = run->job;
    readInputs(r, run);
    job.steps = r.integer<std::int32_t>();
    job.every = r.integer<std::int32_t>();
    const auto formats = r.integer<std::uint32_t>();
    if (formats > r.left() / 4) { // a name takes at least its length
        r.fail();
    }
    job.formats.clear();
    for (std::uint32_t k = 0; k < formats && r.ok(); ++k) {
        job.formats << r.text();
    }
    job.alpha = r.u8();
    job.colour = readColour(r);
    const QString pattern = r.text();
    job.vdbFloat = r.u8();
    job.vdbVelocityName = r.text();
    job.title = r.text();
    job.video = r.text();
    job.checkpointEvery = r.integer<std::int32_t>();
    if (version >= 2 && r.u8()) {
        run->obstacles = readFingerprint(r);
        job.obstaclesPath = run->obstacles->absolutePath;
    }
    if (version >= 3) {
        readColourRun(r, run);
    }
    // A run of fields given one by one keeps each keyframe step's targets in
    // field order (resolveJob puts them so), which names their fields.
    for (std::size_t k = 0; !job.fields.empty() && k < job.keyframes.size(); ++k) {
        job.keyframes[k].field = job.fields[k % job.fields.size()].colour;
    }
    if (run->side <= 0 || job.steps <= 0 || job.every <= 0 || job.checkpointEvery < 0) {
        r.fail();
    }
    QString reason;
    const std::optional<FrameNamePattern> names = FrameNamePattern::parse(pattern, &reason);
    if (!names && r.ok()) {
        r.refuse(QStringLiteral("its frame names: %1").arg(reason));
    }
    job.names = names.value_or(FrameNamePattern());
}

} // namespace checkpointbytes

} // namespace velloran
