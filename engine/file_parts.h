// SPDX-License-Identifier: MIT
#pragma once
// The parts of a file: named ranges of offsets that a format gives its bytes,
// found from the bytes alone (never from the name), so that a corruption can
// aim at the data and spare what makes the file open at all.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glitchwerk {

enum class FileKind { Other, INes, GameBoy, Gba, Snes, Jpeg, Bmp, Wav, Png };

// The offsets [start, end) of the file; never empty, never past its end.
struct FilePart {
    std::string name;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool operator==(const FilePart&) const = default;
};

// The parts in the order of their offsets; they never overlap. Per kind:
//   INes:    header (16 bytes), trainer (512, when the header says so), prg,
//            chr (the sizes the header gives), rest (whatever follows)
//   GameBoy: start (0:100), header (100:150), rom (from 150)
//   Gba:     header (0:C0: entry, logo, title, codes, 96h at B2, the
//            complement at BD), rom (from C0)
//   Snes:    copier (512 bytes, when the size is 512 past a multiple of
//            1024), start (the bytes before the header), header (the 64
//            bytes at 7FC0 or FFC0 past the copier: title, map mode, sizes,
//            checksums and the interrupt vectors), rom (the bytes after it)
//   Jpeg:    headers (up to the end of the first start-of-scan header), scan
//            (up to the last FFD9), end
//   Bmp:     headers (up to the pixel offset), pixels
//   Wav:     headers, samples (the data chunk), rest
//   Png:     headers, idat (the first IDAT chunk's data), rest
//   Other:   all
// A damaged or cut file gives fewer parts, down to `all`.
struct FileParts {
    FileKind kind = FileKind::Other;
    std::vector<FilePart> parts;
};

// Reads up to `size` bytes at `offset` into `buffer`, telling how many in
// `got` (fewer at the end of the file); false when reading failed.
using ReadBytes = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                                     std::size_t& got)>;

// The parts of a file of `length` bytes. Reads the few places near the start
// that tell the format, the headers of segments or chunks up to the one
// sought (at most 65536 of them), and for a JPEG the blocks from the end
// backwards down to its last FFD9. Empty when a read failed.
std::optional<FileParts> FindParts(std::uint64_t length, const ReadBytes& read);

// The parts of an open file, read where it is (its position is kept).
std::optional<FileParts> FindParts(std::FILE* file);

// The parts of a file of `length` bytes of which `bytes` are the first: bytes
// that are not at hand are taken for bytes that tell nothing.
FileParts FindParts(std::span<const std::uint8_t> bytes, std::uint64_t length);

// The part called `name`, or none.
const FilePart* FindPart(const FileParts& parts, std::string_view name);

} // namespace glitchwerk
