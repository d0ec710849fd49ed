// Fuzz target: image bytes (PNG files to start from; the format is decided from the content,
// as for a real file) to the densities of a run, both ways round.

#include "runsetup.h"

#include <QBuffer>

#include <algorithm>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    bool tooLarge = false;
    QString reason;
    const QImage image = velloran::loadImageFrom(&buffer, &tooLarge, &reason);
    if (image.isNull()) {
        return 0;
    }
    velloran::RunDensities densities;
    velloran::prepareRunFromImages(image, image, false, &densities);
    // The image as a larger target of its own top-left square.
    const int side = std::min(image.width(), image.height());
    velloran::prepareRunFromImages(image.copy(0, 0, side, side), image, true, &densities);
    return 0;
}
