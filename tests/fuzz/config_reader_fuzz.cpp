// Fuzz target: the configuration reader, from the file's bytes.

#include "configfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const velloran::ConfigReadResult result = velloran::readConfigurationData(bytes);
    // What a caller does with the result: every value goes through the clamp.
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        if (result.configuration.values[k]) {
            velloran::clampParameter(k, *result.configuration.values[k]);
        }
    }
    return 0;
}
