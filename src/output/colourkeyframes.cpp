#include "colourkeyframes.h"

#include "keyframes.h"

#include <algorithm>

namespace velloran {

namespace {

bool hasSmoke(const Grid &density) {
    const double *cell = density.data();
    const std::size_t cells = static_cast<std::size_t>(density.NumRows()) * density.NumCols();
    return std::any_of(cell, cell + cells, [](double value) { return value > 0.0; });
}

// Keyframe k of every field, each image split by the palette.
bool splitByPalette(const std::vector<KeyframeEntry> &entries, const Palette &palette,
                    QSize targetSize, int side, std::vector<std::vector<Keyframe>> *perField,
                    QString *error, const std::function<QString(const QString &)> &resolve) {
    perField->assign(palette.colours.size(), {});
    for (const KeyframeEntry &entry : entries) {
        const QImage image = loadKeyframeImage(entry, targetSize, error, resolve);
        if (image.isNull()) {
            return false;
        }
        std::vector<Grid> targets = paletteDensities(image, palette, side);
        for (std::size_t k = 0; k < targets.size(); ++k) {
            if (!hasSmoke(targets[k])) {
                *error = QStringLiteral("The keyframe image %1 (step %2) has no #%3 in the part a "
                                        "run uses; every colour of the run's palette needs smoke "
                                        "to gather into.")
                             .arg(entry.image)
                             .arg(entry.step)
                             .arg(palette.colours[k].hex());
                return false;
            }
            (*perField)[k].push_back(Keyframe{entry.step, std::move(targets[k]), entry.blend});
        }
    }
    return true;
}

bool readFieldByField(const std::vector<KeyframeEntry> &entries,
                      const std::vector<RunDensities> &fields,
                      const std::vector<SmokeColour> &colours, int side,
                      std::vector<std::vector<Keyframe>> *perField, QString *error,
                      const std::function<QString(const QString &)> &resolve) {
    const QString refusal = keyframeFieldsRefusal(entries, colours);
    if (!refusal.isEmpty()) {
        *error = refusal;
        return false;
    }
    const std::vector<std::vector<KeyframeEntry>> byField = keyframesByField(entries, colours);
    perField->assign(fields.size(), {});
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (!loadKeyframeTargets(byField[k], fields[k].targetSize, side, &(*perField)[k], error,
                                 resolve)) {
            *error = QStringLiteral("field #%1: %2").arg(colours[k].hex(), *error);
            return false;
        }
    }
    return true;
}

} // namespace

bool loadColourSchedules(const std::vector<KeyframeEntry> &entries,
                         const std::vector<RunDensities> &fields, const Palette *palette,
                         const std::vector<SmokeColour> &colours,
                         std::vector<std::unique_ptr<TargetSchedule>> *schedules, QString *error,
                         const std::function<QString(const QString &)> &resolve) {
    const int side = static_cast<int>(fields.front().srcDensity.NumCols());
    std::vector<std::vector<Keyframe>> perField;
    const bool read =
        palette ? splitByPalette(entries, *palette, fields.front().targetSize, side, &perField,
                                 error, resolve)
                : readFieldByField(entries, fields, colours, side, &perField, error, resolve);
    if (!read) {
        return false;
    }
    std::vector<std::unique_ptr<TargetSchedule>> made;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        made.push_back(
            std::make_unique<TargetSchedule>(fields[k].tgtDensity, std::move(perField[k])));
    }
    *schedules = std::move(made);
    return true;
}

} // namespace velloran
