#pragma once

// Output files that appear complete or not at all.
//
// The bytes go to a temporary file beside the final name (same folder, so the
// rename cannot cross file systems), are flushed to the disk, and only then is
// the temporary renamed over the final name. A full disk, a failing device or
// an interrupted program therefore never leaves a partial or empty file under
// a final name; whatever stood there before stays until the new file is whole.
//
// Only a regular file is ever replaced: a device, a FIFO, a socket or a folder
// at the final name (or a link to one) is refused with "could not write
// 'PATH': not a regular file" and left as it is.
//
// Temporary names are ".NAME.XXXXXX.part" (hidden, and recognisable by
// isTemporaryOutputName so that a later render can sweep up what a killed one
// left). Errors name the file and give the system's reason, e.g.
// "could not write 'out/frame_000010.png': No space left on device".

#include <QByteArray>
#include <QString>

namespace velloran {

class AtomicFile {
public:
    explicit AtomicFile(const QString &finalPath);
    ~AtomicFile(); // discards the temporary unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (refused when the final name is not a
    // regular file).
    bool open(QString *error);
    // Appends bytes to the temporary file (all of them, or an error).
    bool write(const char *data, qint64 size, QString *error);
    bool write(const QByteArray &bytes, QString *error) {
        return write(bytes.constData(), bytes.size(), error);
    }
    // Flushes the temporary to the disk and renames it over the final name.
    bool commit(QString *error);
    // Removes the temporary file; the final name is left as it was.
    void discard();

    const QString &finalPath() const { return m_finalPath; }

private:
    // True, with *error, when the final name holds something that is not a
    // regular file.
    bool refuseNonRegularTarget(QString *error) const;

    QString m_finalPath;
    QByteArray m_temporary; // local 8-bit path of the temporary file
    int m_fd = -1;
};

// The whole file in one go, through an AtomicFile.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error);

// How many bytes the temporary's name adds to the final name (".", then
// ".XXXXXX.part").
constexpr int kTemporaryNameExtra = 13;

// True for the name (without folder) of an AtomicFile's temporary.
bool isTemporaryOutputName(const QString &name);

// "could not ACTION 'PATH': REASON" with the system's text for errnum.
QString fileError(const char *action, const QString &path, int errnum);

} // namespace velloran
