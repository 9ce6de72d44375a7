// SPDX-License-Identifier: MIT
#include "engine/crc32.h"

#include <zlib.h>

#include <algorithm>

namespace glitchwerk {

std::uint32_t Crc32(std::uint32_t crc, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const Bytef*>(bytes);
    uLong sum = crc;
    while (size > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        sum = crc32(sum, at, chunk);
        at += chunk;
        size -= chunk;
    }
    return static_cast<std::uint32_t>(sum);
}

} // namespace glitchwerk
