// CRC-32 with the IEEE polynomial, reflected (zlib's crc32): the boot
// loader's environment check and the write records' own.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues `crc` (0 to start) over `length` bytes at `data`.
std::uint32_t crc32_update(std::uint32_t crc, const unsigned char *data, std::size_t length);
