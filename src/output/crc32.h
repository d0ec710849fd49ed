#pragma once

#include <cstddef>
#include <cstdint>

namespace velloran {

// CRC-32 (the one of zip and PNG), continuing from `crc` (0 to start).
std::uint32_t crc32Of(const char *data, std::size_t size, std::uint32_t crc = 0);

} // namespace velloran
