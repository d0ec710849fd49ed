#include "outputfolder.h"

#include "atomicfile.h"
#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace velloran {

OutputFolder::OutputFolder(const QString &path)
    : m_path(path)
    , m_dir(path) {}

OutputFolder::~OutputFolder() {
    if (!m_kept) {
        discard();
    }
}

OutputFolder::Result OutputFolder::prepare(QString *error) {
    const QFileInfo info(m_path);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("output folder '%1' is not a folder").arg(m_path);
        return Result::Failed;
    }
    // Remember the folders this run creates, innermost first, so that a run
    // that cannot start leaves nothing behind.
    QString missing = info.absoluteFilePath();
    while (!QFileInfo::exists(missing)) {
        m_createdDirs.append(missing);
        const QString parent = QFileInfo(missing).absolutePath();
        if (parent == missing) {
            break;
        }
        missing = parent;
    }
    // Created one level at a time (outermost first) so that a failure says
    // which folder and why.
    for (auto it = m_createdDirs.crbegin(); it != m_createdDirs.crend(); ++it) {
        if (::mkdir(QFile::encodeName(*it).constData(), 0777) != 0 && errno != EEXIST) {
            *error = fileError("create output folder", *it, errno);
            discard();
            return Result::Failed;
        }
    }
    switch (m_lock.acquire(m_path, error)) {
    case FolderLock::Result::Locked:
        break;
    case FolderLock::Result::Busy:
        discard();
        return Result::Busy;
    case FolderLock::Result::Failed:
        discard();
        return Result::Failed;
    }
    // A file made and written now says whether the run's files will be.
    QByteArray probe = QFile::encodeName(filePath(QStringLiteral(".probe.XXXXXX")));
    const int fd = ::mkstemp(probe.data());
    const bool written = fd >= 0 && ::write(fd, "probe", 5) == 5;
    const int reason = errno;
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
    }
    if (!written) {
        *error = QStringLiteral("cannot write into output folder '%1': %2")
                     .arg(m_path, QString::fromLocal8Bit(std::strerror(reason)));
        discard();
        return Result::Failed;
    }
    return Result::Ready;
}

int OutputFolder::removeEarlierOutput(const std::function<bool(const QString &)> &isOwnOutput) {
    int removed = 0;
    const QStringList entries = m_dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : entries) {
        struct stat status {};
        const QByteArray path = QFile::encodeName(filePath(name));
        if ((isOwnOutput(name) || isTemporaryOutputName(name)) &&
            ::lstat(path.constData(), &status) == 0 &&
            (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) &&
            ::unlink(path.constData()) == 0) {
            ++removed;
        }
    }
    return removed;
}

QString
OutputFolder::firstNonRegularEntry(const std::function<bool(const QString &)> &isOwnOutput) const {
    const QStringList entries =
        m_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QString reason;
    for (const QString &name : entries) {
        if (isOwnOutput(name) && !replaceableByRegularFile(filePath(name), &reason)) {
            return filePath(name);
        }
    }
    return QString();
}

void OutputFolder::discard() {
    m_lock.release(true);
    for (const QString &dir : std::as_const(m_createdDirs)) {
        QDir().rmdir(dir);
    }
    m_createdDirs.clear();
}

} // namespace velloran
