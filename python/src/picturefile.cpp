#include "picturefile.h"

#include "errors.h"
#include "framewriter.h"
#include "metrics.h"

#include <QFile>

namespace velloran::binding {

// Through the renderer's own PNG writer: replaced only once complete, and
// never in the place of a device, FIFO or folder.
void writeDensityPng(const std::string &path, const Grid &framed) {
    QString error;
    if (!writePng(QFile::decodeName(QByteArray::fromStdString(path)), densityImage(framed),
                  &error)) {
        throw FileError(0, error.toStdString(), std::string()); // the message names the file
    }
}

} // namespace velloran::binding
