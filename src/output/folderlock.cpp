#include "folderlock.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    // A holder removes the file as it lets go, so the file locked may have
    // left its name by the time the lock is ours: then try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        bool created = false;
        const Result result = lockFile(path, folder, &created, error);
        if (result != Result::Locked) {
            return result;
        }
        struct stat held {
        }, named{};
        if (::fstat(m_fd, &held) == 0 &&
            ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_path = path;
            m_created = created;
            // Whoever holds the lock says so in the file; a failure here costs
            // only that courtesy.
            const QByteArray pid = QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n';
            if (::ftruncate(m_fd, 0) == 0) {
                [[maybe_unused]] const ssize_t written =
                    ::pwrite(m_fd, pid.constData(), static_cast<size_t>(pid.size()), 0);
            }
            return Result::Locked;
        }
        ::close(m_fd);
        m_fd = -1;
    }
    *error = QStringLiteral("could not lock '%1': it keeps being replaced").arg(path);
    return Result::Failed;
}

FolderLock::Result FolderLock::lockFile(const QString &path, const QString &folder, bool *created,
                                        QString *error) {
    const QByteArray name = QFile::encodeName(path);
    *created = true;
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // An existing lock file is opened as it is, but never through a link (the
    // process id would be written into whatever it points at) and never a
    // FIFO or device.
    if (fd < 0 && errno == EEXIST) {
        *created = false;
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral("could not lock '%1': it is a symbolic link (a "
                                                 "run's own files are never written through one)")
                                      .arg(path)
                                : fileError("create", path, errno);
        return Result::Failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = QStringLiteral("could not lock '%1': not a regular file").arg(path);
        ::close(fd);
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
        if (*created) {
            ::unlink(name.constData());
        }
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Locked;
}

void FolderLock::releaseAndRemove() {
    m_created = true;
    release(true);
}

void FolderLock::release(bool removeFile) {
    if (m_fd < 0) {
        return;
    }
    // Removed while still locked: a render waiting on this file finds it gone
    // once it has the lock, and takes a new one.
    if (removeFile && m_created) {
        ::unlink(QFile::encodeName(m_path).constData());
    }
    ::close(m_fd);
    m_fd = -1;
    m_created = false;
}

} // namespace velloran
