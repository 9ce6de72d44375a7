// SPDX-License-Identifier: MIT
#pragma once
// CRC-32 as zlib and PNG compute it, running: Crc32(Crc32(0, a), b) is the
// CRC-32 of a followed by b.

#include "engine/file_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace glitchwerk {

std::uint32_t Crc32(std::uint32_t crc, const void* bytes, std::size_t size);

// The CRC-32 of a file's bytes, and for an iNES ROM ("NES" 1A at the start)
// that of what follows its 16-byte header: the one ROM catalogues list.
struct FileCrc32 {
    std::uint32_t whole = 0;
    std::optional<std::uint32_t> withoutHeader;
    bool operator==(const FileCrc32&) const = default;
};

// Copies the first `length` bytes of `from` over the start of `to` in one
// pass, and gives the CRC-32 of the bytes written. Reads and writes at their
// offsets, past the streams' buffers and positions. False, with the cause in
// LastFailure(), when a read or a write fails or `from` holds fewer bytes;
// `to` then holds a part of them.
bool CopyWithCrc32(std::FILE* from, std::FILE* to, std::uint64_t length, FileCrc32& crc,
                   const Progress& progress = {});

} // namespace glitchwerk
