#include "picturefile.h"

#include "errors.h"
#include "metrics.h"

#include <QFile>
#include <QSaveFile>

namespace velloran::binding {

void writeDensityPng(const std::string &path, const Grid &framed) {
    const QImage picture = densityImage(framed);
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        throw FileError(0, "could not write the picture: " + file.errorString().toStdString(),
                        path);
    }
}

} // namespace velloran::binding
