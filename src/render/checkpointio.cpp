#include "checkpointio.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velloran {

QString checkpointFileName() {
    return QStringLiteral("checkpoint.vlck");
}

bool saveCheckpoint(const QString &dir, const Checkpoint &checkpoint, QString *error) {
    return writeFileAtomically(QDir(dir).filePath(checkpointFileName()),
                               encodeCheckpoint(checkpoint), error);
}

bool loadCheckpoint(const QString &dir, Checkpoint *out, QString *error) {
    if (!QFileInfo(dir).isDir()) {
        *error = QStringLiteral("cannot resume: '%1' is not a folder").arg(dir);
        return false;
    }
    const QString path = QDir(dir).filePath(checkpointFileName());
    QFile file(path);
    if (!file.exists()) {
        *error = QStringLiteral("cannot resume: there is no checkpoint in '%1' (a render writes "
                                "one with --checkpoint-every K)")
                     .arg(dir);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("cannot resume: '%1' cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    const CheckpointReadResult read = decodeCheckpoint(file.readAll(), out);
    if (read.status != CheckpointStatus::Ok) {
        *error = QStringLiteral("cannot resume from '%1': %2").arg(path, read.detail);
        return false;
    }
    return true;
}

bool runImagesUnchanged(const CheckpointRun &run, QString *error) {
    QString reason;
    bool unchanged = imageUnchanged(run.source, QStringLiteral("source image"), &reason) &&
                     imageUnchanged(run.target, QStringLiteral("target image"), &reason);
    for (std::size_t k = 0; unchanged && k < run.keyframes.size(); ++k) {
        unchanged = imageUnchanged(run.keyframes[k].image,
                                   QStringLiteral("keyframe image %1").arg(k + 1), &reason);
    }
    if (!unchanged) {
        *error = QStringLiteral("cannot resume: %1").arg(reason);
    }
    return unchanged;
}

} // namespace velloran
