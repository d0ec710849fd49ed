#include "vdbframe.h"

#include "vdbmodule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <dlfcn.h>

namespace velloran {

namespace {

struct Encoder {
    VdbEncodeFunction encode = nullptr;
    QString error; // why there is none
};

bool inside(const QString &path, const QString &folder) {
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Where the module may lie, in order: where an installation puts it, seen from
// the program (so that the installed tree may move) and as installed; then,
// for code running from this build tree only (a program, or the Python module
// loaded from it), the module built beside it. An installed program never
// loads a build tree's module.
QStringList modulePlaces() {
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QStringList places{QDir::cleanPath(QFileInfo(program).dir().filePath(
                           QStringLiteral(VELLORAN_VDB_FROM_PROGRAM))),
                       QStringLiteral(VELLORAN_VDB_INSTALLED)};
    Dl_info own{};
    const QString code = dladdr(reinterpret_cast<void *>(&vdbBytes), &own) && own.dli_fname
                             ? QFileInfo(QString::fromLocal8Bit(own.dli_fname)).absoluteFilePath()
                             : QString();
    const QString buildTree = QStringLiteral(VELLORAN_VDB_BUILD_TREE);
    if (inside(program, buildTree) || inside(code, buildTree)) {
        places << QStringLiteral(VELLORAN_VDB_BUILT);
    }
    return places;
}

Encoder loadEncoder() {
    Encoder encoder;
    QStringList tried;
    for (const QString &place : modulePlaces()) {
        if (!QFileInfo(place).isFile()) {
            tried << place;
            continue;
        }
        // Kept loaded for the rest of the process, as a linked library would be.
        void *module = dlopen(QFile::encodeName(place).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            encoder.error = QStringLiteral("could not load the OpenVDB writer: %1")
                                .arg(QString::fromLocal8Bit(dlerror()));
            return encoder;
        }
        encoder.encode = reinterpret_cast<VdbEncodeFunction>(dlsym(module, kVdbEncodeSymbol));
        if (!encoder.encode) {
            encoder.error =
                QStringLiteral("'%1' is not the OpenVDB writer of this program").arg(place);
        }
        return encoder;
    }
    encoder.error = QStringLiteral("the OpenVDB writer is not installed (looked for %1)")
                        .arg(tried.join(QStringLiteral(", ")));
    return encoder;
}

} // namespace

bool isVdbVelocityName(const QString &name) {
    return name == QLatin1String("velocity") || name == QLatin1String("vel");
}

QByteArray vdbBytes(const FrameFields &fields, const VdbSettings &settings, QString *error) {
    static const Encoder encoder = loadEncoder();
    if (!encoder.encode) {
        *error = encoder.error;
        return QByteArray();
    }
    QByteArray bytes;
    encoder.encode(fields, settings, &bytes, error);
    return bytes;
}

} // namespace velloran
