#pragma once

// metrics.csv as a run writes it: a header and one row per step, appended as
// the run goes, so that it can be watched. It only ever holds whole rows:
// rows wait in memory and go to the file in one write, and a write that fails
// part-way is cut back to the last whole row before the error is reported.
// Whatever was in the file before the failure stays intact.

#include "metrics.h"

#include <QByteArray>
#include <QString>

namespace velloran {

class MetricsFile {
public:
    explicit MetricsFile(const QString &path);
    ~MetricsFile(); // writes nothing more; what is in the file stays
    MetricsFile(const MetricsFile &) = delete;
    MetricsFile &operator=(const MetricsFile &) = delete;

    // Creates (or empties) the file and writes the header.
    bool create(QString *error);
    // Opens an existing file to continue it after its first `length` bytes
    // (what follows is cut off): how a resumed run picks up its metrics.
    bool resume(qint64 length, QString *error);

    // Queues one row; it reaches the file at the next flush (or, to bound the
    // memory, as soon as enough rows are waiting).
    bool append(const StepMetrics &metrics, QString *error);
    // Writes every waiting row.
    bool flush(QString *error);
    // Flushes, makes sure the data reached the disk, and closes.
    bool close(QString *error);

    // Bytes of whole rows in the file (header included).
    qint64 length() const { return m_length; }
    const QString &path() const { return m_path; }

private:
    bool openAt(int flags, qint64 length, QString *error);

    QString m_path;
    int m_fd = -1;
    qint64 m_length = 0;
    QByteArray m_pending;
};

} // namespace velloran
