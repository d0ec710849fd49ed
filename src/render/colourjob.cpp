#include "colourjob.h"

namespace velloran {

bool isColourJob(const RenderJob &job) {
    return !job.fields.empty() || job.palette.has_value();
}

bool checkColourJob(const RenderOptions &options, const RenderJob &job, QString *error) {
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
    const struct {
        bool asked;
        const char *what;
    } unavailable[] = {
        {!job.keyframes.empty(), "keyframes are"},
    };
    for (const auto &u : unavailable) {
        if (u.asked) {
            *error =
                QStringLiteral("%1 not available with colour runs yet").arg(QLatin1String(u.what));
            return false;
        }
    }
    for (const char *format : {"vdb"}) {
        if (job.formats.contains(QLatin1String(format))) {
            *error = QStringLiteral("colour runs write png, exr and npy frames, but --format "
                                    "has %1")
                         .arg(QLatin1String(format));
            return false;
        }
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
