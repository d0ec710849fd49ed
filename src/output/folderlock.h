#pragma once

// One render per output folder: an advisory lock on ".velloran-render.lock" in
// the folder, held for the life of the object. The file holds the process id
// of the render that last took it, so that a refused render can say who has
// the folder. A lock is taken only on the file that is at that name once it
// is held (checked by inode), so a holder may remove the file as it lets go:
// a render that opened the old file meanwhile finds it gone and starts again.

#include <QString>

namespace velloran {

class FolderLock {
public:
    static constexpr const char *kFileName = ".velloran-render.lock";

    enum class Result { Locked, Busy, Failed };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // Takes the lock without waiting. Busy: another process holds it (*error
    // names the folder and, if known, that process). Failed: the lock file
    // could not be created or locked (*error names the file and the reason).
    Result acquire(const QString &folder, QString *error);

    // Lets go of the lock; removes the lock file too if this object created it
    // (used when a run gives up before writing, so that it leaves nothing).
    void release(bool removeFile);
    // Lets go of the lock and removes the lock file, whoever created it: for a
    // writer that is done with the folder and leaves no trace of the lock.
    void releaseAndRemove();

    bool held() const { return m_fd >= 0; }

private:
    // Opens (or creates) the file at `path` and locks it into m_fd.
    Result lockFile(const QString &path, const QString &folder, bool *created, QString *error);

    int m_fd = -1;
    QString m_path;
    bool m_created = false;
};

} // namespace velloran
