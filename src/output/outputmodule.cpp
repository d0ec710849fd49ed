#include "outputmodule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <dlfcn.h>

namespace velloran {

namespace {

bool inside(const QString &path, const QString &folder) {
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

QStringList placesOf(const ModulePlaces &module) {
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QStringList places{
        QDir::cleanPath(QFileInfo(program).dir().filePath(QString::fromUtf8(module.fromProgram))),
        QString::fromUtf8(module.installed)};
    Dl_info own{};
    const QString code = dladdr(reinterpret_cast<void *>(&moduleFunction), &own) && own.dli_fname
                             ? QFileInfo(QString::fromLocal8Bit(own.dli_fname)).absoluteFilePath()
                             : QString();
    const QString buildTree = QStringLiteral(VELLORAN_MODULES_BUILD_TREE);
    if (inside(program, buildTree) || inside(code, buildTree)) {
        places << QString::fromUtf8(module.built);
    }
    return places;
}

} // namespace

void *moduleFunction(const ModulePlaces &places, const char *symbol, const QString &writer,
                     QString *error) {
    QStringList tried;
    for (const QString &place : placesOf(places)) {
        if (!QFileInfo(place).isFile()) {
            tried << place;
            continue;
        }
        void *module = dlopen(QFile::encodeName(place).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            *error = QStringLiteral("could not load the %1: %2")
                         .arg(writer, QString::fromLocal8Bit(dlerror()));
            return nullptr;
        }
        void *function = dlsym(module, symbol);
        if (!function) {
            *error = QStringLiteral("'%1' is not the %2 of this program").arg(place, writer);
        }
        return function;
    }
    *error = QStringLiteral("the %1 is not installed (looked for %2)")
                 .arg(writer, tried.join(QStringLiteral(", ")));
    return nullptr;
}

} // namespace velloran
