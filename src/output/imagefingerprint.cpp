#include "imagefingerprint.h"

#include "regularfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace velloran {

namespace {

// Only a regular file is read: a FIFO put in an image's place would hang.
std::optional<QByteArray> hashFile(const QString &path, QString *error) {
    QFile file;
    if (!openRegularFile(path, &file, error)) {
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        *error = file.errorString();
        return std::nullopt;
    }
    return hash.result();
}

} // namespace

std::optional<ImageFingerprint> fingerprintImage(const QString &path, QString *error) {
    ImageFingerprint fingerprint;
    fingerprint.path = path;
    fingerprint.absolutePath = QFileInfo(path).absoluteFilePath();
    const std::optional<QByteArray> hash = hashFile(fingerprint.absolutePath, error);
    if (!hash) {
        return std::nullopt;
    }
    fingerprint.sha256 = *hash;
    return fingerprint;
}

bool imageUnchanged(const ImageFingerprint &fingerprint, const QString &role, QString *error) {
    QString reason;
    const std::optional<QByteArray> hash = hashFile(fingerprint.absolutePath, &reason);
    if (!hash) {
        *error = QStringLiteral("the %1 '%2' of the checkpoint cannot be read: %3")
                     .arg(role, fingerprint.absolutePath, reason);
        return false;
    }
    if (*hash != fingerprint.sha256) {
        *error = QStringLiteral("the %1 '%2' has changed since the checkpoint was written")
                     .arg(role, fingerprint.absolutePath);
        return false;
    }
    return true;
}

} // namespace velloran
