#include "atomicfile.h"

#include "regularfile.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloran {

namespace {

constexpr char kTemporarySuffix[] = ".part";

// mkstemps creates its file with mode 0600; a finished output file should carry
// the permissions any other file the program creates gets. The mask can only
// be read by setting it, so that happens once, before any file is written.
mode_t creationMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

} // namespace

QString fileError(const char *action, const QString &path, int errnum) {
    return QStringLiteral("could not %1 '%2': %3")
        .arg(QLatin1String(action), path, QString::fromLocal8Bit(std::strerror(errnum)));
}

bool isTemporaryOutputName(const QString &name) {
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.[A-Za-z0-9]{6}\\.part$"));
    return pattern.match(name).hasMatch();
}

AtomicFile::AtomicFile(const QString &finalPath)
    : m_finalPath(finalPath) {}

AtomicFile::~AtomicFile() {
    discard();
}

// Only a regular file (or nothing) is ever replaced: see replaceableByRegularFile.
// The check runs when the temporary is made and again just before the rename;
// rename(2) cannot be told to replace regular files only, so what someone puts
// at the name between that last check and the rename is replaced, as it would
// be by any program that writes files whole.
bool AtomicFile::refuseNonRegularTarget(QString *error) const {
    QString reason;
    if (replaceableByRegularFile(m_finalPath, &reason)) {
        return false;
    }
    *error = QStringLiteral("could not write '%1': %2").arg(m_finalPath, reason);
    return true;
}

bool AtomicFile::open(QString *error) {
    discard();
    if (refuseNonRegularTarget(error)) {
        return false;
    }
    const QByteArray final = QFile::encodeName(m_finalPath);
    const qsizetype slash = final.lastIndexOf('/');
    const QByteArray folder = final.left(slash + 1);
    const QByteArray name = final.mid(slash + 1);
    QByteArray pattern = folder + '.' + name + ".XXXXXX" + kTemporarySuffix;
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(std::strlen(kTemporarySuffix)));
    if (fd < 0) {
        *error = fileError("create", m_finalPath, errno);
        return false;
    }
    m_fd = fd;
    m_temporary = pattern;
    if (::fchmod(m_fd, creationMode()) != 0) {
        *error = fileError("create", m_finalPath, errno);
        discard();
        return false;
    }
    return true;
}

bool AtomicFile::write(const char *data, qint64 size, QString *error) {
    if (m_fd < 0) {
        *error = fileError("write", m_finalPath, EBADF);
        return false;
    }
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = fileError("write", m_finalPath, errno);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool AtomicFile::commit(QString *error) {
    if (m_fd < 0) {
        *error = fileError("write", m_finalPath, EBADF);
        return false;
    }
    // Some file systems report a full disk only when the data reaches it.
    if (::fdatasync(m_fd) != 0) {
        *error = fileError("write", m_finalPath, errno);
        discard();
        return false;
    }
    if (refuseNonRegularTarget(error)) {
        discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        *error = fileError("write", m_finalPath, errno);
        ::unlink(m_temporary.constData());
        m_temporary.clear();
        return false;
    }
    if (::rename(m_temporary.constData(), QFile::encodeName(m_finalPath).constData()) != 0) {
        *error = fileError("write", m_finalPath, errno);
        ::unlink(m_temporary.constData());
        m_temporary.clear();
        return false;
    }
    m_temporary.clear();
    return true;
}

void AtomicFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error) {
    AtomicFile file(path);
    return file.open(error) && file.write(bytes, error) && file.commit(error);
}

} // namespace velloran
