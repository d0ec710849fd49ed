#include "keyframes.h"

#include "runsetup.h"

#include <QCoreApplication>

#include <algorithm>

namespace velloran {

QImage loadKeyframeImage(const KeyframeEntry &entry, QSize targetSize, QString *error,
                         const std::function<QString(const QString &)> &resolve) {
    const QString path = resolve ? resolve(entry.image) : entry.image;
    bool tooLarge = false;
    QImage image = loadImage(path, &tooLarge);
    if (image.isNull()) {
        *error = tooLarge ? QCoreApplication::translate(
                                "MainWindow",
                                "The keyframe image %1 (step %2) is too large (at most %3 x "
                                "%3 pixels).")
                                .arg(entry.image)
                                .arg(entry.step)
                                .arg(kMaxImageSide)
                          : QCoreApplication::translate(
                                "MainWindow", "Could not load the keyframe image %1 (step %2).")
                                .arg(entry.image)
                                .arg(entry.step);
        return QImage();
    }
    if (image.size() != targetSize) {
        *error =
            QCoreApplication::translate("MainWindow", "The keyframe image %1 (step %2) is %3 x %4 "
                                                      "pixels; the target image is %5 x %6.")
                .arg(entry.image)
                .arg(entry.step)
                .arg(image.width())
                .arg(image.height())
                .arg(targetSize.width())
                .arg(targetSize.height());
        return QImage();
    }
    return image;
}

bool loadKeyframeTargets(const std::vector<KeyframeEntry> &entries, QSize targetSize, int n,
                         std::vector<Keyframe> *out, QString *error,
                         const std::function<QString(const QString &)> &resolve) {
    std::vector<Keyframe> keyframes;
    keyframes.reserve(entries.size());
    for (const KeyframeEntry &entry : entries) {
        const QImage image = loadKeyframeImage(entry, targetSize, error, resolve);
        if (image.isNull()) {
            return false;
        }
        Keyframe keyframe;
        keyframe.step = entry.step;
        keyframe.blend = entry.blend;
        keyframe.target = densityFromImage(image, n, n);
        // Like the first target: a target without smoke would scale to
        // nothing, and the run would chase an empty picture.
        const double *cell = keyframe.target.data();
        const std::size_t cells =
            static_cast<std::size_t>(keyframe.target.NumRows()) * keyframe.target.NumCols();
        if (std::none_of(cell, cell + cells, [](double value) { return value > 0.0; })) {
            *error = QCoreApplication::translate(
                         "MainWindow", "The keyframe image %1 (step %2) has no smoke: its "
                                       "blue channel is zero in the part a run uses.")
                         .arg(entry.image)
                         .arg(entry.step);
            return false;
        }
        keyframes.push_back(std::move(keyframe));
    }
    *out = std::move(keyframes);
    return true;
}

QString keyframeFieldsRefusal(const std::vector<KeyframeEntry> &entries,
                              const std::vector<SmokeColour> &fieldColours) {
    const auto named = [](const SmokeColour &colour) { return QStringLiteral("#") + colour.hex(); };
    if (fieldColours.empty()) {
        for (const KeyframeEntry &entry : entries) {
            if (entry.field) {
                return QStringLiteral("the keyframe at step %1 names field %2, but only a run of "
                                      "fields given one by one has keyframes per field")
                    .arg(entry.step)
                    .arg(named(*entry.field));
            }
        }
        return QString();
    }
    for (std::size_t first = 0; first < entries.size();) {
        const qint64 step = entries[first].step;
        std::size_t end = first;
        std::vector<bool> given(fieldColours.size(), false);
        for (; end < entries.size() && entries[end].step == step; ++end) {
            const KeyframeEntry &entry = entries[end];
            if (!entry.field) {
                return QStringLiteral("the keyframe at step %1 names no field; a run of fields "
                                      "given one by one needs a target for each field at each "
                                      "keyframe step")
                    .arg(step);
            }
            const auto at = std::find(fieldColours.begin(), fieldColours.end(), *entry.field);
            if (at == fieldColours.end()) {
                return QStringLiteral("the keyframe at step %1 names field %2, which the run "
                                      "does not have")
                    .arg(step)
                    .arg(named(*entry.field));
            }
            const std::size_t index = static_cast<std::size_t>(at - fieldColours.begin());
            if (given[index]) {
                return QStringLiteral("the keyframes at step %1 name field %2 twice")
                    .arg(step)
                    .arg(named(*entry.field));
            }
            given[index] = true;
            if (entry.blend != entries[first].blend) {
                return QStringLiteral("the keyframes at step %1 blend over %2 and %3 steps; the "
                                      "fields of one step blend together")
                    .arg(step)
                    .arg(entries[first].blend)
                    .arg(entry.blend);
            }
        }
        for (std::size_t k = 0; k < given.size(); ++k) {
            if (!given[k]) {
                return QStringLiteral("the keyframes at step %1 give field %2 no target; each "
                                      "keyframe step needs one for every field")
                    .arg(step)
                    .arg(named(fieldColours[k]));
            }
        }
        first = end;
    }
    return QString();
}

std::vector<std::vector<KeyframeEntry>>
keyframesByField(const std::vector<KeyframeEntry> &entries,
                 const std::vector<SmokeColour> &fieldColours) {
    std::vector<std::vector<KeyframeEntry>> byField(fieldColours.size());
    for (const KeyframeEntry &entry : entries) {
        const auto at = std::find(fieldColours.begin(), fieldColours.end(), entry.field);
        if (at != fieldColours.end()) {
            byField[static_cast<std::size_t>(at - fieldColours.begin())].push_back(entry);
        }
    }
    return byField;
}

QString keyframesInReverseMessage() {
    return QCoreApplication::translate("MainWindow",
                                       "A run with keyframes cannot be started in reverse.");
}

} // namespace velloran
