// SPDX-License-Identifier: MIT
#include "engine/file_parts.h"

#include "engine/file_stream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace glitchwerk {
namespace {

// Reads for the walks, and the blocks of the search for a JPEG's end.
constexpr std::size_t kWalkBlock = 0x1000;
constexpr std::size_t kBlock = 0x10000;
// Walks over segments and chunks stop here: a real file has a few dozen.
constexpr int kMostSegments = 0x10000;

// The bytes of the file, read a block at a time and kept while walks stay in it.
class Source {
  public:
    Source(std::uint64_t length, const ReadBytes& read) : length_(length), read_(read) {}

    // False when the bytes are past the end, not at hand, or not read.
    bool Get(std::uint64_t offset, std::uint8_t* into, std::size_t size) {
        if (offset > length_ || size > length_ - offset)
            return false;
        if (offset < start_ || offset + size > start_ + held_) {
            held_ = 0;
            start_ = offset;
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(std::max(kWalkBlock, size), length_ - offset));
            block_.resize(want);
            if (!read_(offset, block_.data(), want, held_)) {
                failed_ = true;
                held_ = 0;
            }
            if (held_ < size)
                return false;
        }
        std::memcpy(into, block_.data() + (offset - start_), size);
        return true;
    }

    // A little- or big-endian number of `size` bytes, or none.
    std::optional<std::uint64_t> Number(std::uint64_t offset, std::size_t size, bool big) {
        std::array<std::uint8_t, 4> bytes{};
        if (!Get(offset, bytes.data(), size))
            return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= std::uint64_t{bytes[i]} << 8 * (big ? size - 1 - i : i);
        return value;
    }

    // The offset of the last FF D9 at or after `from`, or none: blocks read
    // from the end backwards, each reaching one byte into the one after it.
    std::optional<std::uint64_t> LastEndOfImage(std::uint64_t from) {
        std::vector<std::uint8_t> block(kBlock);
        for (std::uint64_t top = length_; top > from && top - from >= 2;) {
            const std::uint64_t low = top - from > kBlock ? top - kBlock : from;
            std::size_t got = 0;
            if (!read_(low, block.data(), static_cast<std::size_t>(top - low), got)) {
                failed_ = true;
                return std::nullopt;
            }
            for (std::size_t i = got < 2 ? 0 : got - 1; i-- > 0;) {
                if (block[i] == 0xFF && block[i + 1] == 0xD9)
                    return low + i;
            }
            if (low == from)
                break;
            top = low + 1;
        }
        return std::nullopt;
    }

    std::uint64_t length() const { return length_; }
    bool failed() const { return failed_; }

  private:
    std::uint64_t length_;
    const ReadBytes& read_;
    std::vector<std::uint8_t> block_;
    std::uint64_t start_ = 0;
    std::size_t held_ = 0;
    bool failed_ = false;
};

struct Finder {
    Source& source;
    FileParts found;

    // Adds [start, end) as far as the file has it.
    void Add(const char* name, std::uint64_t start, std::uint64_t end) {
        end = std::min(end, source.length());
        if (start < end)
            found.parts.push_back({name, start, end});
    }

    bool Starts(const char* magic, std::size_t size, std::uint64_t at = 0) {
        std::array<std::uint8_t, 8> bytes{};
        return source.Get(at, bytes.data(), size) && std::memcmp(bytes.data(), magic, size) == 0;
    }

    // A size in NES 2.0 terms: a 12-bit count of units, or a power of two
    // times 1, 3, 5 or 7 where the high nibble is F.
    static std::uint64_t Nes2Size(std::uint8_t low, std::uint8_t high, std::uint64_t unit) {
        if (high != 0xF)
            return (std::uint64_t{high} << 8 | low) * unit;
        const unsigned exponent = low >> 2;
        return exponent > 40 ? std::uint64_t{1} << 42
                             : (std::uint64_t{1} << exponent) * ((low & 3) * 2 + 1);
    }

    bool INes() {
        std::array<std::uint8_t, 16> header{};
        if (!source.Get(0, header.data(), header.size()) ||
            std::memcmp(header.data(), "NES\x1A", 4) != 0)
            return false;
        found.kind = FileKind::INes;
        const bool nes2 = (header[7] & 0x0C) == 0x08;
        const std::uint64_t prg = Nes2Size(header[4], nes2 ? header[9] & 0x0F : 0, 0x4000);
        const std::uint64_t chr = Nes2Size(header[5], nes2 ? header[9] >> 4 : 0, 0x2000);
        const std::uint64_t trainer = header[6] & 0x04 ? 0x200 : 0;
        Add("header", 0, 0x10);
        Add("trainer", 0x10, 0x10 + trainer);
        Add("prg", 0x10 + trainer, 0x10 + trainer + prg);
        Add("chr", 0x10 + trainer + prg, 0x10 + trainer + prg + chr);
        Add("rest", 0x10 + trainer + prg + chr, source.length());
        return true;
    }

    bool GameBoy() {
        static constexpr std::uint8_t kLogo[] = {
            0xCE, 0xED, 0x66, 0x66, 0xCC, 0x0D, 0x00, 0x0B, 0x03, 0x73, 0x00, 0x83,
            0x00, 0x0C, 0x00, 0x0D, 0x00, 0x08, 0x11, 0x1F, 0x88, 0x89, 0x00, 0x0E,
            0xDC, 0xCC, 0x6E, 0xE6, 0xDD, 0xDD, 0xD9, 0x99, 0xBB, 0xBB, 0x67, 0x63,
            0x6E, 0x0E, 0xEC, 0xCC, 0xDD, 0xDC, 0x99, 0x9F, 0xBB, 0xB9, 0x33, 0x3E};
        std::array<std::uint8_t, sizeof kLogo> logo{};
        if (!source.Get(0x104, logo.data(), logo.size()) ||
            std::memcmp(logo.data(), kLogo, logo.size()) != 0)
            return false;
        found.kind = FileKind::GameBoy;
        Add("start", 0, 0x100);
        Add("header", 0x100, 0x150);
        Add("rom", 0x150, source.length());
        return true;
    }

    // A Game Boy Advance header: 96h at B2, and the complement at BD that
    // makes the bytes A0 to BD add up to -19h.
    bool Gba() {
        std::array<std::uint8_t, 0x1E> header{};
        if (!source.Get(0xA0, header.data(), header.size()) || header[0x12] != 0x96)
            return false;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < 0x1D; ++i)
            sum = static_cast<std::uint8_t>(sum - header[i]);
        if (static_cast<std::uint8_t>(sum - 0x19) != header[0x1D])
            return false;
        found.kind = FileKind::Gba;
        Add("header", 0, 0xC0);
        Add("rom", 0xC0, source.length());
        return true;
    }

    // The internal header has no mark of its own: its checksum and the
    // checksum's complement, which add up to FFFF, tell it.
    bool Snes() {
        const std::uint64_t copier = source.length() % 1024 == 512 ? 512 : 0;
        for (const std::uint64_t place : {0x7FC0, 0xFFC0}) {
            const std::uint64_t header = copier + place;
            const auto complement = source.Number(header + 0x1C, 2, false);
            const auto checksum = source.Number(header + 0x1E, 2, false);
            if (!complement || !checksum || *complement + *checksum != 0xFFFF ||
                header + 0x40 > source.length())
                continue;
            found.kind = FileKind::Snes;
            Add("copier", 0, copier);
            Add("start", copier, header);
            Add("header", header, header + 0x40);
            Add("rom", header + 0x40, source.length());
            return true;
        }
        return false;
    }

    // Segments up to the first start of scan; the scan's data holds no FF D9
    // (an FF in it is followed by 00), so its last one ends the image.
    bool Jpeg() {
        if (!Starts("\xFF\xD8\xFF", 3))
            return false;
        found.kind = FileKind::Jpeg;
        std::uint64_t at = 2;
        for (int segment = 0; segment < kMostSegments; ++segment) {
            std::array<std::uint8_t, 2> marker{};
            if (!source.Get(at, marker.data(), 2) || marker[0] != 0xFF)
                return true;
            if (marker[1] == 0xFF) { // fill
                ++at;
                continue;
            }
            if (marker[1] == 0x01 || (marker[1] >= 0xD0 && marker[1] <= 0xD8)) { // no length
                at += 2;
                continue;
            }
            const auto length = source.Number(at + 2, 2, true);
            if (marker[1] == 0x00 || marker[1] == 0xD9 || !length || *length < 2)
                return true;
            at += 2 + *length;
            if (marker[1] == 0xDA && at <= source.length()) {
                const std::uint64_t end = source.LastEndOfImage(at).value_or(source.length());
                Add("headers", 0, at);
                Add("scan", at, end);
                Add("end", end, source.length());
                return true;
            }
        }
        return true;
    }

    bool Bmp() {
        const auto offset = source.Number(10, 4, false);
        const auto info = source.Number(14, 4, false);
        constexpr std::uint64_t kInfoSizes[] = {12, 40, 52, 56, 64, 108, 124};
        if (!Starts("BM", 2) || !offset || !info ||
            std::find(std::begin(kInfoSizes), std::end(kInfoSizes), *info) ==
                std::end(kInfoSizes) ||
            *offset < 14 + *info || *offset > source.length())
            return false;
        found.kind = FileKind::Bmp;
        Add("headers", 0, *offset);
        Add("pixels", *offset, source.length());
        return true;
    }

    // A walk over the chunks after `at`, each an identifier and a length,
    // up to the one called `data`: its bytes become the part called `name`.
    void Chunks(std::uint64_t at, const char* data, const char* name, bool png) {
        for (int chunk = 0; chunk < kMostSegments; ++chunk) {
            const auto size = source.Number(png ? at : at + 4, 4, png);
            if (!size || (png && *size > 0x7FFFFFFF))
                return;
            if (Starts(data, 4, png ? at + 4 : at)) {
                Add("headers", 0, at + 8);
                Add(name, at + 8, at + 8 + *size);
                Add("rest", at + 8 + *size, source.length());
                return;
            }
            at += 8 + *size + (png ? 4 : *size & 1); // a CRC; a pad byte
        }
    }

    bool Wav() {
        if (!Starts("RIFF", 4) || !Starts("WAVE", 4, 8))
            return false;
        found.kind = FileKind::Wav;
        Chunks(12, "data", "samples", false);
        return true;
    }

    bool Png() {
        if (!Starts("\x89PNG\r\n\x1A\n", 8))
            return false;
        found.kind = FileKind::Png;
        Chunks(8, "IDAT", "idat", true);
        return true;
    }
};

} // namespace

std::optional<FileParts> FindParts(std::uint64_t length, const ReadBytes& read) {
    Source source(length, read);
    Finder finder{source, {}};
    // The formats with a mark of their own first; the SNES header has none.
    (void)(finder.INes() || finder.GameBoy() || finder.Png() || finder.Jpeg() || finder.Bmp() ||
           finder.Wav() || finder.Gba() || finder.Snes());
    if (source.failed())
        return std::nullopt;
    if (finder.found.parts.empty())
        finder.Add("all", 0, length);
    return std::move(finder.found);
}

std::optional<FileParts> FindParts(std::FILE* file) {
    const std::int64_t length = StreamLength(file);
    if (length < 0)
        return std::nullopt;
    return FindParts(static_cast<std::uint64_t>(length),
                     [file](std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                            std::size_t& got) { return ReadAt(file, offset, buffer, size, got); });
}

FileParts FindParts(std::span<const std::uint8_t> bytes, std::uint64_t length) {
    const auto read = [bytes](std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                              std::size_t& got) {
        got = offset < bytes.size() ? std::min<std::size_t>(size, bytes.size() - offset) : 0;
        if (got)
            std::memcpy(buffer, bytes.data() + offset, got);
        return true;
    };
    return *FindParts(length, read);
}

const FilePart* FindPart(const FileParts& parts, std::string_view name) {
    const auto part = std::find_if(parts.parts.begin(), parts.parts.end(),
                                   [name](const FilePart& p) { return p.name == name; });
    return part == parts.parts.end() ? nullptr : &*part;
}

} // namespace glitchwerk
