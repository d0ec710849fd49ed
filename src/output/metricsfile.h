#pragma once

// metrics.csv as a run writes it: a header and one row per step, appended as
// the run goes, so that it can be watched. It only ever holds whole rows:
// rows wait in memory and go to the file in one write, and a write that fails
// part-way is cut back to the last whole row before the error is reported.
// Whatever was in the file before the failure stays intact.
//
// A running CRC-32 of the bytes in the file lets a checkpoint pin exactly the
// rows that belong to the run up to its step (flush first, so that the queued
// rows count), and a resumed run check them before it continues.

#include "metrics.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace velloran {

class MetricsFile {
public:
    explicit MetricsFile(const QString &path);
    ~MetricsFile(); // writes nothing more; what is in the file stays
    MetricsFile(const MetricsFile &) = delete;
    MetricsFile &operator=(const MetricsFile &) = delete;

    // A run of several smoke fields: one distance column per field (before
    // create).
    void setFieldNames(const QStringList &names) { m_fieldNames = names; }
    // A colour run's header ends in "colour_error".
    void setColourError(bool colourError) { m_colourError = colourError; }
    // Creates (or empties) the file and writes the header.
    bool create(QString *error);
    // Opens an existing file to continue it after its first `length` bytes,
    // whose CRC-32 is `crc` (what follows is cut off): how a resumed run picks
    // up its metrics. Check the prefix with checkMetricsPrefix first.
    bool resume(qint64 length, std::uint32_t crc, QString *error);

    // Queues one row; it reaches the file at the next flush (or, to bound the
    // memory, as soon as enough rows are waiting).
    bool append(const StepMetrics &metrics, QString *error);
    // Writes every waiting row.
    bool flush(QString *error);
    // Flushes, makes sure the data reached the disk, and closes.
    bool close(QString *error);

    // Bytes of whole rows in the file (header included) and their CRC-32.
    qint64 length() const { return m_length; }
    std::uint32_t crc() const { return m_crc; }
    const QString &path() const { return m_path; }

private:
    bool openAt(int flags, qint64 length, QString *error);

    QString m_path;
    int m_fd = -1;
    qint64 m_length = 0;
    std::uint32_t m_crc = 0;
    QByteArray m_pending;
    QStringList m_fieldNames;
    bool m_colourError = false;
};

// True when the file starts with `length` bytes of CRC-32 `crc`; otherwise
// false with a message saying what does not match. Reads only.
bool checkMetricsPrefix(const QString &path, qint64 length, std::uint32_t crc, QString *error);

} // namespace velloran
