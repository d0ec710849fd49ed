#include "checkpointcheck.h"

#include "frameformats.h"
#include "framename.h"
#include "keyframes.h"
#include "vdbframe.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace velloran {

namespace {

bool fail(QString *detail, const QString &why) {
    *detail = why;
    return false;
}

bool inSteps(std::int64_t value, std::int64_t lowest) {
    return value >= lowest && value <= kMaxSteps;
}

// Each parameter must be what the spin box would hold: in range, rounded to
// its decimals, finite (a sigma of 0 would end the program on an assertion).
bool checkParameters(const SimParameters &parameters, QString *detail) {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        const ParameterRange &range = kParameterRanges[k];
        const double value = parameters[k];
        if (!std::isfinite(value) || clampParameter(k, value) != value) {
            return fail(detail,
                        QStringLiteral("its %1 %2 is not a value the run can take (%3 .. "
                                       "%4, %5 decimal(s))")
                            .arg(QLatin1String(range.key), QString::number(value, 'g', 17),
                                 QString::number(range.minimum), QString::number(range.maximum))
                            .arg(range.decimals));
        }
    }
    return true;
}

bool checkImage(const ImageFingerprint &image, const QString &role, QString *detail) {
    if (image.absolutePath.isEmpty() || !QDir::isAbsolutePath(image.absolutePath) ||
        image.sha256.size() != 32) {
        return fail(detail, QStringLiteral("its %1 is not recorded properly").arg(role));
    }
    return true;
}

// A run of fields given one by one records its keyframes step by step, each
// step's targets in field order (jobrecord.cpp).
bool checkKeyframes(const CheckpointRun &run, QString *detail) {
    const std::size_t perStep = std::max<std::size_t>(run.job.fields.size(), 1);
    if (run.job.keyframes.size() % perStep != 0) {
        return fail(detail, QStringLiteral("its %1 keyframes are not a whole number of steps of "
                                           "%2 fields")
                                .arg(run.job.keyframes.size())
                                .arg(perStep));
    }
    std::int64_t previous = 0;
    for (std::size_t k = 0; k < run.job.keyframes.size(); ++k) {
        const KeyframeEntry &keyframe = run.job.keyframes[k];
        const bool sameStep = k % perStep != 0;
        if (!inSteps(keyframe.step, sameStep ? previous : previous + 1) ||
            (sameStep && keyframe.step != previous) || !inSteps(keyframe.blend, 0)) {
            return fail(detail, QStringLiteral("its keyframe %1 has step %2 and blend %3 (steps "
                                               "rise from 1 to %4, blends 0 to %4)")
                                    .arg(k + 1)
                                    .arg(keyframe.step)
                                    .arg(keyframe.blend)
                                    .arg(kMaxSteps));
        }
        if (!checkImage(run.keyframeImages[k], QStringLiteral("keyframe image %1").arg(k + 1),
                        detail)) {
            return false;
        }
        previous = keyframe.step;
    }
    const QString fields = keyframeFieldsRefusal(run.job.keyframes, fieldColours(run.job.fields));
    if (!fields.isEmpty()) {
        return fail(detail, QStringLiteral("its keyframes: %1").arg(fields));
    }
    if (run.job.reverse && !run.job.keyframes.empty()) {
        return fail(detail, QStringLiteral("it has keyframes in a reverse run"));
    }
    return true;
}

// What the run writes and how often: the bounds of --steps, --every and
// --checkpoint-every, the formats, and the combinations the options refuse.
// (The name pattern is checked as it is read.)
bool checkOutput(const RenderJob &job, QString *detail) {
    if (!inSteps(job.steps, 1) || !inSteps(job.every, 1) || !inSteps(job.checkpointEvery, 0)) {
        return fail(detail, QStringLiteral("its steps %1, frame interval %2 or checkpoint "
                                           "interval %3 lies outside 1 .. %4")
                                .arg(job.steps)
                                .arg(job.every)
                                .arg(job.checkpointEvery)
                                .arg(kMaxSteps));
    }
    if (orderedFrameFormats(job.formats) != job.formats) {
        return fail(detail, QStringLiteral("its frame formats '%1' are not a list of %2")
                                .arg(job.formats.join(QLatin1Char(',')), frameFormatNames()));
    }
    if (job.alpha && !job.formats.contains(QLatin1String("png"))) {
        return fail(detail, QStringLiteral("it asks for alpha PNG frames without PNG frames"));
    }
    if (!isVdbVelocityName(job.vdbVelocityName)) {
        return fail(detail,
                    QStringLiteral("its velocity grid name '%1' is neither velocity nor vel")
                        .arg(job.vdbVelocityName));
    }
    if (!job.video.isEmpty() && !QDir::isAbsolutePath(job.video)) {
        return fail(detail,
                    QStringLiteral("its video file '%1' is not an absolute path").arg(job.video));
    }
    return true;
}

// A colour run's fields: distinct colours, each with its images; a palette
// asked for as the options allow it.
bool checkColourRun(const CheckpointRun &run, QString *detail) {
    if (run.fields.empty()) {
        if (run.job.palette) {
            return fail(detail, QStringLiteral("it has a palette but no colour fields"));
        }
        return true;
    }
    if (const std::optional<PaletteRequest> &palette = run.job.palette;
        palette && (palette->count < 0 || palette->count > kMaxColourFields ||
                    (!palette->colours.empty() && palette->count != 0))) {
        return fail(detail, QStringLiteral("its palette is malformed"));
    }
    for (std::size_t k = 0; k < run.fields.size(); ++k) {
        const RecordedField &field = run.fields[k];
        const QString role = QStringLiteral("%2 of field #%1").arg(field.colour.hex());
        for (std::size_t other = 0; other < k; ++other) {
            if (run.fields[other].colour == field.colour) {
                return fail(detail,
                            QStringLiteral("it has the colour #%1 twice").arg(field.colour.hex()));
            }
        }
        if (!checkImage(field.source, role.arg(QStringLiteral("source image")), detail) ||
            !checkImage(field.target, role.arg(QStringLiteral("target image")), detail)) {
            return false;
        }
    }
    return true;
}

bool checkState(const Checkpoint &checkpoint, QString *detail) {
    const CheckpointRun &run = checkpoint.run;
    if (!inSteps(checkpoint.step, 0) || !inSteps(checkpoint.frames, 0) ||
        checkpoint.activeTarget > static_cast<std::int64_t>(run.job.keyframes.size())) {
        return fail(detail, QStringLiteral("its step %1 or frame count %2 is impossible")
                                .arg(checkpoint.step)
                                .arg(checkpoint.frames));
    }
    for (const CheckpointGrid &grid : checkpoint.grids) {
        const double *values = grid.grid.data();
        const std::size_t count =
            static_cast<std::size_t>(grid.grid.NumRows()) * grid.grid.NumCols();
        for (std::size_t k = 0; k < count; ++k) {
            if (!std::isfinite(values[k])) {
                return fail(detail, QStringLiteral("its grid '%1' holds a value that is not finite")
                                        .arg(grid.name));
            }
        }
    }
    // The plot's history halves its points by doubling the stride.
    const int stride = checkpoint.history.stride;
    if (stride <= 0 || stride > (1 << 30) || (stride & (stride - 1)) != 0) {
        return fail(detail, QStringLiteral("its metrics history is malformed"));
    }
    return true;
}

} // namespace

bool checkCheckpointValues(const Checkpoint &checkpoint, QString *detail) {
    const CheckpointRun &run = checkpoint.run;
    if (run.job.scheme != Scheme::Literal && run.job.scheme != Scheme::Sound) {
        return fail(detail, QStringLiteral("its scheme %1 is neither literal (0) nor sound (1)")
                                .arg(static_cast<int>(run.job.scheme)));
    }
    // The solver takes obstacles in the sound scheme only.
    if (run.obstacles && run.job.scheme != Scheme::Sound) {
        return fail(detail, QStringLiteral("it has obstacles in a literal run"));
    }
    return checkImage(run.source, QStringLiteral("source image"), detail) &&
           checkImage(run.target, QStringLiteral("target image"), detail) &&
           (!run.obstacles ||
            checkImage(*run.obstacles, QStringLiteral("obstacle image"), detail)) &&
           checkParameters(run.job.parameters, detail) && checkKeyframes(run, detail) &&
           checkOutput(run.job, detail) && checkColourRun(run, detail) &&
           checkState(checkpoint, detail);
}

} // namespace velloran
