#include "regularfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloran {

bool openRegularFile(const QString &path, QFile *file, QString *reason, bool followLinks) {
    if (path.isEmpty()) {
        *reason = QStringLiteral("no path given");
        return false;
    }
    // Files compiled into the program (":/examples/...") are never FIFOs.
    if (path.startsWith(QLatin1Char(':'))) {
        file->setFileName(path);
        if (!file->open(QIODevice::ReadOnly)) {
            *reason = file->errorString();
            return false;
        }
        return true;
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        const int errnum = errno;
        if (errnum == ELOOP && !followLinks) {
            *reason = QStringLiteral("a symbolic link");
            return false;
        }
        // Bytes that are not valid UTF-8 became U+FFFD on their way into the
        // name, so the name no longer matches the file on the disk.
        *reason = errnum == ENOENT && path.contains(QChar::ReplacementCharacter)
                      ? QStringLiteral("the file name is not valid UTF-8, so it cannot be opened "
                                       "by this name; rename the file")
                      : QString::fromLocal8Bit(std::strerror(errnum));
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *reason = QStringLiteral("not a regular file");
        return false;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *reason = file->errorString();
        return false;
    }
    return true;
}

bool replaceableByRegularFile(const QString &path, QString *reason) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || S_ISREG(status.st_mode)) {
        return true;
    }
    *reason = QStringLiteral("not a regular file");
    return false;
}

} // namespace velloran
