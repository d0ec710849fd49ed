#pragma once

// The folder a render writes into, from before the first file to the end.
//
// prepare() creates the folder (and missing parents) if needed, takes the
// folder's lock and checks that files can be written there. Until keep() is
// called the object undoes what it did when it goes: it lets go of the lock
// and removes the folders it created (only while empty), so a render that
// cannot start leaves nothing behind (the lock file it made goes too). After
// keep() the lock is still held until the object goes or release() is
// called, and the folder stays.

#include "folderlock.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>

namespace velloran {

class OutputFolder {
public:
    enum class Result { Ready, Busy, Failed };

    explicit OutputFolder(const QString &path);
    ~OutputFolder();
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    // Busy: another render holds the folder. Failed: it could not be created,
    // locked or written into. *error says which folder and why.
    Result prepare(QString *error);

    // Removes the files of an earlier render (names for which isOwnOutput is
    // true) and what an interrupted one left half-written; returns how many.
    // Only regular files and links go: anything else is not a render's.
    int removeEarlierOutput(const std::function<bool(const QString &)> &isOwnOutput);

    // The first entry named as one of the run's files (isOwnOutput) that is
    // not a regular file: a device, a FIFO, a socket, a folder, or a link to
    // one. Empty when there is none. The run would have to write in its place.
    QString firstNonRegularEntry(const std::function<bool(const QString &)> &isOwnOutput) const;

    // The run has started: the folder and its files stay.
    void keep() { m_kept = true; }

    // The writing is over: lets go of the lock and removes the lock file.
    void release() { m_lock.releaseAndRemove(); }

    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    void discard();

    QString m_path;
    QDir m_dir;
    FolderLock m_lock;
    QStringList m_createdDirs; // innermost first
    bool m_kept = false;
};

} // namespace velloran
