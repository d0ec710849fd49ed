#include "crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace velloran {

std::uint32_t crc32Of(const char *data, std::size_t size, std::uint32_t crc) {
    // zlib takes lengths as uInt: feed large buffers in pieces.
    while (size > 0) {
        const auto piece =
            static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        crc =
            static_cast<std::uint32_t>(::crc32(crc, reinterpret_cast<const Bytef *>(data), piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

} // namespace velloran
