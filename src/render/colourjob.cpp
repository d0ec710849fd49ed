#include "colourjob.h"

#include "keyframes.h"

namespace velloran {

bool isColourJob(const RenderJob &job) {
    return !job.fields.empty() || job.palette.has_value();
}

bool checkColourJob(const RenderOptions &options, const RenderJob &job, QString *error) {
    const QString keyframes = keyframeFieldsRefusal(job.keyframes, fieldColours(job.fields));
    if (!keyframes.isEmpty()) {
        *error = QStringLiteral("keyframes: ") + keyframes;
        return false;
    }
    if (!isColourJob(job)) {
        if (options.job.colourMode) {
            *error = QStringLiteral("--colour-mode draws the fields of --field or --palette, but "
                                    "the run has none");
            return false;
        }
        return true;
    }
    if (!job.fields.empty() && job.palette) {
        *error = QStringLiteral("a colour run takes its fields from a palette or one by one, not "
                                "both");
        return false;
    }
    return true;
}

RenderJob withPaletteFields(const RenderJob &job, const std::vector<SmokeColour> &colours) {
    RenderJob result = job;
    result.fields.clear();
    for (const SmokeColour &colour : colours) {
        result.fields.push_back(ColourField{colour, job.sourcePath, job.targetPath});
    }
    return result;
}

} // namespace velloran
