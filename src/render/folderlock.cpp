#include "folderlock.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velloran {

namespace {

// The process id written by the holder, if the file has a plausible one.
long holderOf(int fd) {
    char text[32] = {};
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    if (length <= 0) {
        return 0;
    }
    char *end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return pid > 0 && end != text ? pid : 0;
}

} // namespace

FolderLock::~FolderLock() {
    release(false);
}

FolderLock::Result FolderLock::acquire(const QString &folder, QString *error) {
    release(false);
    const QString path = QDir(folder).filePath(QLatin1String(kFileName));
    const QByteArray name = QFile::encodeName(path);
    bool created = true;
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        *error = fileError("create", path, errno);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        if (reason == EWOULDBLOCK) {
            const long holder = holderOf(fd);
            *error =
                holder > 0
                    ? QStringLiteral("output folder '%1' is in use by another render "
                                     "(process %2)")
                          .arg(folder)
                          .arg(holder)
                    : QStringLiteral("output folder '%1' is in use by another render").arg(folder);
            ::close(fd);
            return Result::Busy;
        }
        *error = fileError("lock", path, reason);
        ::close(fd);
        if (created) {
            ::unlink(name.constData());
        }
        return Result::Failed;
    }
    // Whoever holds the lock says so in the file; a failure here costs only
    // that courtesy.
    const QByteArray pid = QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.constData(), pid.size(), 0);
    }
    m_fd = fd;
    m_path = path;
    m_created = created;
    return Result::Locked;
}

void FolderLock::release(bool removeFile) {
    if (m_fd < 0) {
        return;
    }
    // Removed while still locked, so no other render can have taken it meanwhile.
    if (removeFile && m_created) {
        ::unlink(QFile::encodeName(m_path).constData());
    }
    ::close(m_fd);
    m_fd = -1;
    m_created = false;
}

} // namespace velloran
