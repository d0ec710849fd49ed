#include "recordfolder.h"

#include "framename.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

bool probeRecordFolder(const QString &folder, QString *error) {
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("%1 is not a folder").arg(folder);
        return false;
    }
    if (!info.exists() && !QDir().mkpath(folder)) {
        *error = QStringLiteral("could not create the folder %1").arg(folder);
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".velloran-record-XXXXXX")));
    if (!probe.open() || probe.write("probe", 5) != 5 || !probe.flush()) {
        *error = QStringLiteral("cannot write into %1: %2").arg(folder, probe.errorString());
        return false;
    }
    return true;
}

bool isRenderOutputName(const QString &name) {
    const velloran::FrameNamePattern names;
    if (name == QLatin1String("metrics.csv") || name == QLatin1String("convergence.png")) {
        return true;
    }
    for (const char *extension : {"png", "exr"}) {
        if (names.isFrameName(name, QLatin1String(extension))) {
            return true;
        }
    }
    for (const char *field : {"density_", "u_", "v_"}) {
        if (names.isFieldName(name, QLatin1String(field), QStringLiteral("npy"))) {
            return true;
        }
    }
    return false;
}

int removeEarlierOutput(const QString &folder) {
    const QDir dir(folder);
    int removed = 0;
    for (const QString &name : dir.entryList(QDir::Files)) {
        if (isRenderOutputName(name) && QFile::remove(dir.filePath(name))) {
            ++removed;
        }
    }
    return removed;
}
