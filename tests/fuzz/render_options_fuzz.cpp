// Fuzz target: the renderer's command line. The input is the argument list,
// arguments separated by zero bytes.

#include "options.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    QStringList arguments;
    for (const QByteArray &argument :
         QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size))
             .split('\0')) {
        arguments << QString::fromUtf8(argument);
    }
    velloran::RenderOptions options;
    QString error;
    velloran::parseRenderOptions(arguments, &options, &error);
    return 0;
}
