#pragma once

// metrics.csv: one line per step, appended as the run goes, with a running
// CRC-32 of what was written so that a checkpoint can record exactly which
// bytes belong to the run up to its step.

#include "metrics.h"

#include <QFile>
#include <QString>

#include <cstdint>

namespace velloran {

class MetricsLog {
public:
    // Starts the file afresh with its header line.
    bool create(const QString &path, QString *error);

    // Continues a file whose first `bytes` bytes have CRC `crc`: anything after
    // them (lines of steps past the checkpoint) is cut off. Call
    // checkMetricsPrefix first; this changes the file.
    bool resume(const QString &path, std::uint64_t bytes, std::uint32_t crc, QString *error);

    bool append(const StepMetrics &metrics);
    bool flush();
    bool close(); // flushes; false if anything failed

    std::uint64_t bytes() const { return m_bytes; }
    std::uint32_t crc() const { return m_crc; }

private:
    bool write(const QByteArray &text);

    QFile m_file;
    std::uint64_t m_bytes = 0;
    std::uint32_t m_crc = 0;
};

// True when the file starts with `bytes` bytes of CRC `crc`; otherwise false
// with a message saying what does not match. Reads only.
bool checkMetricsPrefix(const QString &path, std::uint64_t bytes, std::uint32_t crc,
                        QString *error);

} // namespace velloran
