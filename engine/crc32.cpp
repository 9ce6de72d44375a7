// SPDX-License-Identifier: MIT
#include "engine/crc32.h"

#ifdef GLITCHWERK_CRC32_ZLIB
#include <zlib.h>
#else
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

namespace glitchwerk {

std::uint32_t Crc32(std::uint32_t crc, const void* bytes, std::size_t size) {
#ifdef GLITCHWERK_CRC32_ZLIB
    const auto* at = static_cast<const Bytef*>(bytes);
    uLong sum = crc;
    while (size > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        sum = crc32(sum, at, chunk);
        at += chunk;
        size -= chunk;
    }
    return static_cast<std::uint32_t>(sum);
#else
    return libdeflate_crc32(crc, bytes, size);
#endif
}

bool CopyWithCrc32(std::FILE* from, std::FILE* to, std::uint64_t length, FileCrc32& crc,
                   const Progress& progress) {
    // Large enough that the calls cost little, small enough that the bytes
    // are still in the processor's cache when they are summed and written.
    constexpr std::size_t kBlock = 256 << 10;
    constexpr std::size_t kHeader = 16;
    std::vector<std::uint8_t> buffer(kBlock);
    std::uint32_t whole = 0;
    std::uint32_t bare = 0;
    bool ines = false;
    for (std::uint64_t offset = 0; offset < length;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - offset));
        std::size_t got = 0;
        if (!ReadAt(from, offset, buffer.data(), wanted, got))
            return false;
        if (got < wanted) {
            SetFailure("the file ended early");
            return false;
        }
        if (offset == 0)
            ines = got >= kHeader && std::memcmp(buffer.data(), "NES\x1A", 4) == 0;
        whole = Crc32(whole, buffer.data(), got);
        if (ines) {
            const std::size_t skip = offset == 0 ? kHeader : 0;
            bare = Crc32(bare, buffer.data() + skip, got - skip);
        }
        if (!WriteAt(to, offset, buffer.data(), got))
            return false;
        offset += got;
        if (progress && (offset >> 20) != ((offset - got) >> 20))
            progress(offset, length);
    }
    crc = {whole, ines ? std::optional(bare) : std::nullopt};
    return true;
}

} // namespace glitchwerk
