// SPDX-License-Identifier: MIT
#pragma once
// CRC-32 as zlib and PNG compute it, running: Crc32(Crc32(0, a), b) is the
// CRC-32 of a followed by b.

#include <cstddef>
#include <cstdint>

namespace glitchwerk {

std::uint32_t Crc32(std::uint32_t crc, const void* bytes, std::size_t size);

} // namespace glitchwerk
