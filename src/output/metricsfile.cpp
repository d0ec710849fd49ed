#include "metricsfile.h"

#include "atomicfile.h"
#include "crc32.h"
#include "regularfile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloran {

namespace {

// Rows held back before a write is forced: about a thousand steps.
constexpr qsizetype kPendingLimit = 64 * 1024;

} // namespace

MetricsFile::MetricsFile(const QString &path)
    : m_path(path) {}

MetricsFile::~MetricsFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

// Never through a symbolic link: a link put in the file's place would have the
// run write into whatever file it points at, wherever that is.
bool MetricsFile::openAt(int flags, qint64 length, QString *error) {
    m_fd = ::open(QFile::encodeName(m_path).constData(),
                  flags | O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (m_fd < 0) {
        // ENXIO: a FIFO nobody reads (O_NONBLOCK keeps the open from waiting
        // for a reader, which would hold the run past any stop signal).
        *error = errno == ELOOP ? QStringLiteral("could not write '%1': it is a symbolic link (a "
                                                 "run's own files are never written through one)")
                                      .arg(m_path)
                 : errno == ENXIO
                     ? QStringLiteral("could not write '%1': not a regular file").arg(m_path)
                     : fileError("write", m_path, errno);
        return false;
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = QStringLiteral("could not write '%1': not a regular file").arg(m_path);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    if (::ftruncate(m_fd, length) != 0 || ::lseek(m_fd, length, SEEK_SET) != length) {
        *error = fileError("write", m_path, errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_length = length;
    return true;
}

bool MetricsFile::create(QString *error) {
    m_pending = metricsCsvHeader(m_fieldNames, m_colourError).toUtf8() + '\n';
    m_crc = 0;
    return openAt(O_CREAT, 0, error) && flush(error);
}

bool MetricsFile::resume(qint64 length, std::uint32_t crc, QString *error) {
    m_pending.clear();
    m_crc = crc;
    return openAt(0, length, error);
}

bool MetricsFile::append(const StepMetrics &metrics, QString *error) {
    appendMetricsCsvLine(metrics, &m_pending);
    m_pending += '\n';
    return m_pending.size() < kPendingLimit || flush(error);
}

bool MetricsFile::flush(QString *error) {
    if (m_pending.isEmpty()) {
        return true;
    }
    if (m_fd < 0) {
        *error = fileError("write", m_path, EBADF);
        return false;
    }
    const char *data = m_pending.constData();
    qsizetype left = m_pending.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            const int reason = errno;
            // Back to the last whole row; the rows before the failure stay.
            if (::ftruncate(m_fd, m_length) == 0) {
                ::lseek(m_fd, m_length, SEEK_SET);
            }
            *error = fileError("write", m_path, reason);
            return false;
        }
        data += written;
        left -= written;
    }
    m_length += m_pending.size();
    m_crc = crc32Of(m_pending.constData(), static_cast<std::size_t>(m_pending.size()), m_crc);
    m_pending.clear();
    return true;
}

bool MetricsFile::close(QString *error) {
    if (m_fd < 0) {
        return true;
    }
    bool ok = flush(error);
    if (ok && ::fdatasync(m_fd) != 0) {
        *error = fileError("write", m_path, errno);
        ok = false;
    }
    if (::close(m_fd) != 0 && ok) {
        *error = fileError("write", m_path, errno);
        ok = false;
    }
    m_fd = -1;
    return ok;
}

bool checkMetricsPrefix(const QString &path, qint64 length, std::uint32_t crc, QString *error) {
    // The run wrote it as a regular file; a FIFO or a link in its place is not
    // the run's (and the run would go on to write into it).
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason, false)) {
        *error = QStringLiteral("'%1' cannot be read: %2").arg(path, reason);
        return false;
    }
    if (file.size() < length) {
        *error = QStringLiteral("'%1' is shorter than at the checkpoint (%2 of %3 bytes)")
                     .arg(path)
                     .arg(file.size())
                     .arg(length);
        return false;
    }
    std::uint32_t sum = 0;
    qint64 left = length;
    while (left > 0) {
        const QByteArray piece = file.read(std::min<qint64>(left, 1 << 20));
        if (piece.isEmpty()) {
            *error = QStringLiteral("'%1' cannot be read: %2").arg(path, file.errorString());
            return false;
        }
        sum = crc32Of(piece.constData(), static_cast<std::size_t>(piece.size()), sum);
        left -= piece.size();
    }
    if (sum != crc) {
        *error = QStringLiteral("'%1' has changed since the checkpoint was written").arg(path);
        return false;
    }
    return true;
}

} // namespace velloran
