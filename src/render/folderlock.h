#pragma once

// One render per output folder: an advisory lock on ".velloran-render.lock" in
// the folder, held for the life of the object. The lock file stays in the
// folder after the run (removing it would let two renders hold locks on two
// different files of that name); it holds the process id of the render that
// last took it, so that a refused render can say who has the folder.

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
    // (used when a run that created its folder gives up before writing).
    void release(bool removeFile);

    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    QString m_path;
    bool m_created = false;
};

} // namespace velloran
