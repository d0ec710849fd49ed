#include "progress.h"

#include <cmath>
#include <unistd.h>

namespace velloran {

QString formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return QStringLiteral("--:--");
    }
    const qint64 s = static_cast<qint64>(std::llround(seconds));
    if (s >= 3600) {
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

Progress::Progress(FILE *stream, bool quiet, int total)
    : m_stream(stream)
    , m_enabled(!quiet && stream)
    , m_terminal(m_enabled && ::isatty(::fileno(stream)))
    , m_total(total) {
    m_clock.start();
}

void Progress::update(int step, double distance, bool force) {
    if (!m_enabled) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    const qint64 interval = m_terminal ? 100 : 5000;
    if (!force && now - m_last < interval) {
        return;
    }
    m_last = now;
    const double seconds = now / 1000.0;
    const double rate = seconds > 0 ? (step - m_first) / seconds : 0.0;
    const double eta = rate > 0 ? (m_total - step) / rate : -1.0;
    const QString figures = QStringLiteral("%1/%2  %3 steps/s  ETA %4  distance %5")
                                .arg(step)
                                .arg(m_total)
                                .arg(rate, 0, 'f', 1)
                                .arg(formatDuration(eta))
                                .arg(distance, 0, 'f', 4);
    if (m_terminal) {
        const int width = 30;
        const int filled =
            m_total > 0 ? static_cast<int>(std::lround(static_cast<double>(width) * step / m_total))
                        : width;
        const QString bar =
            QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
        std::fprintf(m_stream, "\r\x1b[K[%s] %s", bar.toLatin1().constData(),
                     figures.toLocal8Bit().constData());
        m_open = true;
    } else {
        std::fprintf(m_stream, "step %s\n", figures.toLocal8Bit().constData());
    }
    std::fflush(m_stream);
}

void Progress::close() {
    if (m_open) {
        std::fprintf(m_stream, "\n");
        std::fflush(m_stream);
        m_open = false;
    }
}

} // namespace velloran
