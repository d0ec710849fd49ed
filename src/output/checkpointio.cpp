#include "checkpointio.h"

#include "atomicfile.h"
#include "checkpointcheck.h"
#include "regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velloran {

QString checkpointFileName() {
    return QStringLiteral("checkpoint.vlck");
}

bool saveCheckpoint(const QString &dir, const Checkpoint &checkpoint, QString *error) {
    return saveCheckpointFile(QDir(dir).filePath(checkpointFileName()), checkpoint, error);
}

bool saveCheckpointFile(const QString &path, const Checkpoint &checkpoint, QString *error) {
    const QByteArray bytes = encodeCheckpoint(checkpoint);
    // Never write what no reader would take back.
    if (static_cast<std::uint64_t>(bytes.size()) > kMaxCheckpointBytes) {
        *error = QStringLiteral("could not write '%1': the checkpoint would take %2 bytes, more "
                                "than the %3 a checkpoint may have")
                     .arg(path)
                     .arg(bytes.size())
                     .arg(kMaxCheckpointBytes);
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

bool loadCheckpoint(const QString &dir, Checkpoint *out, QString *error) {
    if (!QFileInfo(dir).isDir()) {
        *error = QStringLiteral("cannot resume: '%1' is not a folder").arg(dir);
        return false;
    }
    const QString path = QDir(dir).filePath(checkpointFileName());
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        *error = QStringLiteral("cannot resume: there is no checkpoint in '%1' (a render writes "
                                "one with --checkpoint-every K)")
                     .arg(dir);
        return false;
    }
    // The renderer writes its checkpoint as a regular file: a FIFO would hang
    // the read and a device (or a link to one) would never end, so neither is
    // opened, nor a link that someone put in the checkpoint's place.
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason, false)) {
        *error = QStringLiteral("cannot resume: '%1' cannot be read: %2").arg(path, reason);
        return false;
    }
    Checkpoint read;
    const CheckpointReadResult result = readCheckpoint(&file, &read);
    if (result.status != CheckpointStatus::Ok) {
        *error = QStringLiteral("cannot resume from '%1': %2").arg(path, result.detail);
        return false;
    }
    if (!checkCheckpointValues(read, &reason)) {
        *error = QStringLiteral("cannot resume from '%1': %2").arg(path, reason);
        return false;
    }
    *out = std::move(read);
    return true;
}

bool runImagesUnchanged(const CheckpointRun &run, QString *error) {
    QString reason;
    // A colour run's fields hold its images (a palette run's are the run's
    // own), and a changed one is named by its field.
    bool unchanged = !run.fields.empty() ||
                     (imageUnchanged(run.source, QStringLiteral("source image"), &reason) &&
                      imageUnchanged(run.target, QStringLiteral("target image"), &reason));
    if (unchanged && run.obstacles) {
        unchanged = imageUnchanged(*run.obstacles, QStringLiteral("obstacle image"), &reason);
    }
    for (std::size_t k = 0; unchanged && k < run.fields.size(); ++k) {
        const RecordedField &field = run.fields[k];
        const QString role = QStringLiteral("%2 of field #%1").arg(field.colour.hex());
        unchanged =
            imageUnchanged(field.source, role.arg(QStringLiteral("source image")), &reason) &&
            imageUnchanged(field.target, role.arg(QStringLiteral("target image")), &reason);
    }
    for (std::size_t k = 0; unchanged && k < run.keyframeImages.size(); ++k) {
        unchanged = imageUnchanged(run.keyframeImages[k],
                                   QStringLiteral("keyframe image %1").arg(k + 1), &reason);
    }
    if (!unchanged) {
        *error = QStringLiteral("cannot resume: %1").arg(reason);
    }
    return unchanged;
}

} // namespace velloran
