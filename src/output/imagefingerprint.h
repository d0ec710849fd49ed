#pragma once

// Which image file a run was made from: the path as the user gave it, where it
// was then, and a hash of its bytes, so a resumed run can tell whether it still
// has the same picture.

#include <QByteArray>
#include <QString>

#include <optional>

namespace velloran {

struct ImageFingerprint {
    QString path;         // as given (relative paths resolve against the start folder)
    QString absolutePath; // resolved when the run started
    QByteArray sha256;    // of the file's bytes

    bool operator==(const ImageFingerprint &other) const {
        return path == other.path && absolutePath == other.absolutePath && sha256 == other.sha256;
    }
};

// Reads the file and hashes it; nothing, with *error, if it cannot be read.
std::optional<ImageFingerprint> fingerprintImage(const QString &path, QString *error);

// True when the file at fingerprint.absolutePath still has the recorded bytes;
// otherwise false with a message naming `role` ("source image", ...) that says
// whether the file is missing or changed.
bool imageUnchanged(const ImageFingerprint &fingerprint, const QString &role, QString *error);

} // namespace velloran
