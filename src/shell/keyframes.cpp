#include "keyframes.h"

#include "runsetup.h"

#include <QCoreApplication>

#include <algorithm>

namespace velloran {

bool loadKeyframeTargets(const std::vector<KeyframeEntry> &entries, QSize targetSize, int n,
                         std::vector<Keyframe> *out, QString *error,
                         const std::function<QString(const QString &)> &resolve) {
    std::vector<Keyframe> keyframes;
    keyframes.reserve(entries.size());
    for (const KeyframeEntry &entry : entries) {
        const QString path = resolve ? resolve(entry.image) : entry.image;
        bool tooLarge = false;
        const QImage image = loadImage(path, &tooLarge);
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
            return false;
        }
        if (image.size() != targetSize) {
            *error = QCoreApplication::translate("MainWindow",
                                                 "The keyframe image %1 (step %2) is %3 x %4 "
                                                 "pixels; the target image is %5 x %6.")
                         .arg(entry.image)
                         .arg(entry.step)
                         .arg(image.width())
                         .arg(image.height())
                         .arg(targetSize.width())
                         .arg(targetSize.height());
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

QString keyframesInReverseMessage() {
    return QCoreApplication::translate("MainWindow",
                                       "A run with keyframes cannot be started in reverse.");
}

} // namespace velloran
