#include "metricslog.h"

#include "checkpointfile.h"

namespace velloran {

bool MetricsLog::create(const QString &path, QString *error) {
    m_file.setFileName(path);
    m_bytes = 0;
    m_crc = 0;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !write((metricsCsvHeader() + QLatin1Char('\n')).toUtf8()) || !m_file.flush()) {
        *error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

bool MetricsLog::resume(const QString &path, std::uint64_t bytes, std::uint32_t crc,
                        QString *error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite) || !m_file.resize(static_cast<qint64>(bytes)) ||
        !m_file.seek(static_cast<qint64>(bytes))) {
        *error = m_file.errorString();
        m_file.close();
        return false;
    }
    m_bytes = bytes;
    m_crc = crc;
    return true;
}

bool MetricsLog::write(const QByteArray &text) {
    if (m_file.write(text) != text.size()) {
        return false;
    }
    m_crc = crc32Of(text.constData(), static_cast<std::size_t>(text.size()), m_crc);
    m_bytes += static_cast<std::uint64_t>(text.size());
    return true;
}

bool MetricsLog::append(const StepMetrics &metrics) {
    return write((metricsCsvLine(metrics) + QLatin1Char('\n')).toUtf8());
}

bool MetricsLog::flush() {
    return m_file.flush();
}

bool MetricsLog::close() {
    const bool ok = m_file.flush() && m_file.error() == QFileDevice::NoError;
    m_file.close();
    return ok;
}

bool checkMetricsPrefix(const QString &path, std::uint64_t bytes, std::uint32_t crc,
                        QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("'%1' cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    if (static_cast<std::uint64_t>(file.size()) < bytes) {
        *error = QStringLiteral("'%1' is shorter than at the checkpoint (%2 of %3 bytes)")
                     .arg(path)
                     .arg(file.size())
                     .arg(bytes);
        return false;
    }
    std::uint32_t sum = 0;
    std::uint64_t left = bytes;
    while (left > 0) {
        const QByteArray piece =
            file.read(static_cast<qint64>(std::min<std::uint64_t>(left, 1 << 20)));
        if (piece.isEmpty()) {
            *error = QStringLiteral("'%1' cannot be read: %2").arg(path, file.errorString());
            return false;
        }
        sum = crc32Of(piece.constData(), static_cast<std::size_t>(piece.size()), sum);
        left -= static_cast<std::uint64_t>(piece.size());
    }
    if (sum != crc) {
        *error = QStringLiteral("'%1' has changed since the checkpoint was written").arg(path);
        return false;
    }
    return true;
}

} // namespace velloran
