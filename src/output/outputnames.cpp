#include "outputnames.h"

#include "atomicfile.h"
#include "checkpointio.h"
#include "folderlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace velloran {

namespace {

// The limit on a name in `folder`, asked of its nearest existing ancestor when
// it does not exist yet; -1 when the system states none.
long nameLimit(const QString &folder) {
    QString existing = QFileInfo(folder).absoluteFilePath();
    while (!QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing) {
            break;
        }
        existing = parent;
    }
    return ::pathconf(QFile::encodeName(existing).constData(), _PC_NAME_MAX);
}

// The run's own files besides its frames.
QStringList ownFileNames() {
    return {QStringLiteral("metrics.csv"), QStringLiteral("convergence.png"), checkpointFileName(),
            QLatin1String(FolderLock::kFileName)};
}

} // namespace

bool checkOutputNames(const RenderJob &job,
                      const std::vector<std::unique_ptr<FrameWriter>> &writers, QString *error) {
    QStringList reserved = ownFileNames();
    const QFileInfo video(job.video);
    if (!job.video.isEmpty() &&
        video.absoluteDir() == QDir(QFileInfo(job.outDir).absoluteFilePath())) {
        reserved << video.fileName();
    }
    for (const QString &name : reserved) {
        for (const auto &writer : writers) {
            if (writer->isOwnOutput(name)) {
                *error = QStringLiteral("--name '%1' names a frame '%2', which is a file the run "
                                        "writes itself; choose another pattern")
                             .arg(job.names.text(), name);
                return false;
            }
        }
    }
    const long limit = nameLimit(job.outDir);
    if (limit < 0) {
        return true;
    }
    // The widest step number belongs to the last step (or, with a precision of
    // 0, possibly to step 0, which then has no digits at all).
    for (const int step : {0, job.steps}) {
        for (const auto &writer : writers) {
            for (const QString &name : writer->fileNames(step)) {
                const auto bytes = QFile::encodeName(name).size();
                if (bytes + kTemporaryNameExtra > limit) {
                    *error = QStringLiteral("--name '%1' gives file names too long for the file "
                                            "system of '%2': '%3' has %4 bytes, %5 while it is "
                                            "written, and the limit is %6")
                                 .arg(job.names.text(), job.outDir, name)
                                 .arg(bytes)
                                 .arg(bytes + kTemporaryNameExtra)
                                 .arg(limit);
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace velloran
