// SPDX-License-Identifier: MIT
#include "engine/mend.h"

#include "engine/crc32.h"
#include "engine/file_stream.h"

#include <array>
#include <bit>
#include <cstring>

namespace glitchwerk {
namespace {

constexpr std::size_t kBlock = 0x10000;
// A walk over a PNG's chunks stops here: a real file has a few dozen.
constexpr int kMostChunks = 1 << 20;

// The file's bytes, each read whole: a file shorter than it was found fails.
struct Reader {
    const ReadBytes& read;
    std::uint64_t length;

    bool Get(std::uint64_t offset, std::uint8_t* into, std::size_t size) const {
        std::size_t got = 0;
        if (offset > length || size > length - offset || !read(offset, into, size, got))
            return false;
        if (got < size) {
            SetFailure("the file is shorter than the original");
            return false;
        }
        return true;
    }

    // A big- or little-endian number of `size` bytes (up to 4).
    bool Number(std::uint64_t offset, std::size_t size, bool big, std::uint32_t& value) const {
        std::array<std::uint8_t, 4> bytes{};
        if (!Get(offset, bytes.data(), size))
            return false;
        value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= std::uint32_t{bytes[i]} << 8 * (big ? size - 1 - i : i);
        return true;
    }

    // Calls `visit(bytes, size)` on the blocks of [from, to), in order.
    template <class Visit> bool Each(std::uint64_t from, std::uint64_t to, Visit visit) const {
        std::vector<std::uint8_t> block(kBlock);
        for (std::uint64_t at = from; at < to; at += kBlock) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, to - at));
            if (!Get(at, block.data(), size))
                return false;
            visit(block.data(), size);
        }
        return true;
    }

    bool ByteSum(std::uint64_t from, std::uint64_t to, std::uint64_t& sum) const {
        sum = 0;
        return Each(from, to, [&](const std::uint8_t* bytes, std::size_t size) {
            for (std::size_t i = 0; i < size; ++i)
                sum += bytes[i];
        });
    }
};

bool Starts(const Reader& file, std::uint64_t at, const char* mark) {
    std::array<std::uint8_t, 8> bytes{};
    const std::size_t size = std::strlen(mark);
    return file.Get(at, bytes.data(), size) && std::memcmp(bytes.data(), mark, size) == 0;
}

// Game Boy: 14D = (x - b - 1 over 134..14C); 14E-14F (big-endian) the sum of
// every byte but themselves.
bool GameBoyHeader(const Reader& file, std::uint8_t& sum) {
    std::array<std::uint8_t, 0x14D - 0x134> bytes{};
    if (!file.Get(0x134, bytes.data(), bytes.size()))
        return false;
    sum = 0;
    for (const std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum - b - 1);
    return true;
}
bool GameBoyGlobal(const Reader& file, std::uint16_t& sum) {
    std::uint64_t all = 0;
    std::array<std::uint8_t, 2> field{};
    if (!file.ByteSum(0, file.length, all) || !file.Get(0x14E, field.data(), 2))
        return false;
    sum = static_cast<std::uint16_t>(all - field[0] - field[1]);
    return true;
}

// GBA: BD = -(sum of A0..BC) - 19h.
bool GbaHeader(const Reader& file, std::uint8_t& sum) {
    std::array<std::uint8_t, 0xBD - 0xA0> bytes{};
    if (!file.Get(0xA0, bytes.data(), bytes.size()))
        return false;
    sum = 0;
    for (const std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum - b);
    sum = static_cast<std::uint8_t>(sum - 0x19);
    return true;
}

// Genesis: the sum of the big-endian words from 200 on, an odd last byte the
// high byte of one.
bool GenesisSum(const Reader& file, std::uint16_t& sum) {
    std::uint64_t words = 0;
    const bool read =
        file.Each(0x200, file.length, [&](const std::uint8_t* bytes, std::size_t size) {
            for (std::size_t i = 0; i < size; ++i)
                words += i % 2 == 0 ? std::uint64_t{bytes[i]} << 8 : bytes[i];
        });
    sum = static_cast<std::uint16_t>(words);
    return read;
}

// SNES: the sum of the image after a copier header, with the four bytes of
// the complement and checksum counted as FF FF 00 00; past the largest power
// of two P, the rest repeated to fill 2P. The header's 64 bytes end within the
// image, which is then at least 8000 long: they lie below P.
bool SnesSum(const Reader& file, std::uint64_t copier, std::uint64_t header, std::uint16_t& sum) {
    const std::uint64_t size = file.length - copier;
    const std::uint64_t whole = std::bit_floor(size);
    const std::uint64_t rest = size - whole;
    std::uint64_t first = 0;
    std::uint64_t tail = 0;
    std::uint64_t start = 0;
    if (!file.ByteSum(copier, copier + whole, first) ||
        !file.ByteSum(copier + whole, file.length, tail) ||
        !file.ByteSum(copier + whole, copier + whole + (rest ? whole % rest : 0), start))
        return false;
    std::array<std::uint8_t, 4> fields{};
    if (!file.Get(header + 0x1C, fields.data(), fields.size()))
        return false;
    // FF + FF + 00 + 00 in place of the four, modulo 2^64 as the sum is.
    const std::uint64_t total = first + (rest ? whole / rest * tail + start : 0) + 0x1FE -
                                fields[0] - fields[1] - fields[2] - fields[3];
    sum = static_cast<std::uint16_t>(total);
    return true;
}

// The CRC-32 over a chunk's type and data.
bool ChunkCrc(const Reader& file, const MendChunk& chunk, std::uint32_t& crc) {
    crc = 0;
    return file.Each(
        chunk.offset, chunk.offset + 4 + chunk.size,
        [&](const std::uint8_t* bytes, std::size_t size) { crc = Crc32(crc, bytes, size); });
}

bool FindGameBoy(const Reader& file, MendPlan& plan) {
    std::uint8_t header = 0;
    std::uint16_t global = 0;
    std::array<std::uint8_t, 3> fields{};
    if (!GameBoyHeader(file, header) || !GameBoyGlobal(file, global) ||
        !file.Get(0x14D, fields.data(), fields.size()))
        return false;
    if (header == fields[0])
        plan.sums |= static_cast<unsigned>(MendSum::GameBoyHeader);
    if (global == (fields[1] << 8 | fields[2]))
        plan.sums |= static_cast<unsigned>(MendSum::GameBoyGlobal);
    return true;
}

bool FindSnes(const Reader& file, MendPlan& plan) {
    const std::uint64_t copier = file.length % 1024 == 512 ? 512 : 0;
    for (const std::uint64_t place : {0x7FC0, 0xFFC0}) {
        const std::uint64_t header = copier + place;
        std::uint32_t complement = 0;
        std::uint32_t checksum = 0;
        std::uint16_t sum = 0;
        if (header + 0x40 > file.length)
            continue;
        if (!file.Number(header + 0x1C, 2, false, complement) ||
            !file.Number(header + 0x1E, 2, false, checksum) || !SnesSum(file, copier, header, sum))
            return false;
        if ((complement ^ checksum) == 0xFFFF && checksum == sum) {
            plan.sums |= static_cast<unsigned>(MendSum::SnesChecksum);
            plan.snesHeader = header;
            return true;
        }
    }
    return true;
}

bool FindPng(const Reader& file, MendPlan& plan) {
    std::uint64_t at = 8;
    for (int n = 0; n < kMostChunks && at + 12 <= file.length; ++n) {
        std::uint32_t size = 0;
        if (!file.Number(at, 4, true, size))
            return false;
        if (size > 0x7FFFFFFF || size > file.length - at - 12)
            break;
        const MendChunk chunk{at + 4, size};
        std::uint32_t crc = 0;
        std::uint32_t stored = 0;
        if (!ChunkCrc(file, chunk, crc) || !file.Number(at + 8 + size, 4, true, stored))
            return false;
        if (crc == stored)
            plan.chunks.push_back(chunk);
        if (Starts(file, at + 4, "IEND"))
            break;
        at += 12 + std::uint64_t{size};
    }
    if (!plan.chunks.empty())
        plan.sums |= static_cast<unsigned>(MendSum::PngCrc);
    return true;
}

bool FindGba(const Reader& file, MendPlan& plan) {
    std::uint8_t sum = 0;
    std::array<std::uint8_t, 1> field{};
    if (!GbaHeader(file, sum) || !file.Get(0xBD, field.data(), 1))
        return false;
    if (sum == field[0])
        plan.sums |= static_cast<unsigned>(MendSum::GbaHeader);
    return true;
}

// A Genesis image: "SEGA" at 100 or " SEGA" at 101.
bool FindGenesis(const Reader& file, MendPlan& plan) {
    if (file.length < 0x190 || !(Starts(file, 0x100, "SEGA") || Starts(file, 0x101, " SEGA")))
        return true;
    std::uint16_t sum = 0;
    std::uint32_t stored = 0;
    if (!GenesisSum(file, sum) || !file.Number(0x18E, 2, true, stored))
        return false;
    if (sum == stored)
        plan.sums |= static_cast<unsigned>(MendSum::GenesisChecksum);
    return true;
}

// The plan, with `looked` false (and the plan empty) when a read failed.
MendPlan Find(std::uint64_t length, const ReadBytes& read, bool& looked) {
    const std::optional<FileParts> parts = FindParts(length, read);
    MendPlan plan{0, 0, length};
    looked = parts.has_value();
    if (!looked)
        return plan;
    const Reader file{read, length};
    switch (parts->kind) {
    case FileKind::GameBoy:
        looked = FindGameBoy(file, plan);
        break;
    case FileKind::Gba:
        looked = FindGba(file, plan);
        break;
    case FileKind::Snes:
        looked = FindSnes(file, plan);
        break;
    case FileKind::Png:
        looked = FindPng(file, plan);
        break;
    case FileKind::Other:
        looked = FindGenesis(file, plan);
        break;
    default:
        break;
    }
    return looked ? plan : MendPlan{0, 0, length};
}

bool Has(const MendPlan& plan, MendSum sum) {
    return (plan.sums & static_cast<unsigned>(sum)) != 0;
}

} // namespace

const char* MendName(MendSum sum) {
    switch (sum) {
    case MendSum::GameBoyHeader:
        return "gb-header";
    case MendSum::GameBoyGlobal:
        return "gb-global";
    case MendSum::GbaHeader:
        return "gba-header";
    case MendSum::SnesChecksum:
        return "snes-checksum";
    case MendSum::GenesisChecksum:
        return "genesis-checksum";
    case MendSum::PngCrc:
        return "png-crc";
    }
    return "";
}

MendPlan FindMendable(std::uint64_t length, const ReadBytes& read) {
    bool looked = false;
    return Find(length, read, looked);
}

bool FindMendable(std::FILE* file, MendPlan& plan) {
    const std::int64_t length = StreamLength(file);
    if (length < 0 || std::fflush(file) != 0)
        return false;
    bool looked = false;
    plan = Find(
        static_cast<std::uint64_t>(length),
        [file](std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
            return ReadAt(file, offset, buffer, size, got);
        },
        looked);
    return looked;
}

bool MendChecksums(std::FILE* file, const MendPlan& plan, std::vector<std::string>& mended) {
    mended.clear();
    if (plan.sums == 0)
        return true;
    if (std::fflush(file) != 0) {
        SetFailure(ErrnoText(errno));
        return false;
    }
    // Nothing is written into a file that is not the original's length.
    const std::int64_t length = StreamLength(file);
    if (length < 0)
        return false;
    if (static_cast<std::uint64_t>(length) < plan.length) {
        SetFailure("the file is shorter than the original");
        return false;
    }
    const ReadBytes read = [file](std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                                  std::size_t& got) {
        return ReadAt(file, offset, buffer, size, got);
    };
    const Reader bytes{read, plan.length};
    const auto wrote = [&](MendSum sum, std::uint64_t offset, const std::uint8_t* field,
                           std::size_t size) {
        if (!WriteAt(file, offset, field, size))
            return false;
        mended.emplace_back(MendName(sum));
        return true;
    };
    // The header's byte first: the global sum counts it.
    if (std::uint8_t sum = 0;
        Has(plan, MendSum::GameBoyHeader) &&
        (!GameBoyHeader(bytes, sum) || !wrote(MendSum::GameBoyHeader, 0x14D, &sum, 1)))
        return false;
    if (std::uint16_t sum = 0; Has(plan, MendSum::GameBoyGlobal)) {
        if (!GameBoyGlobal(bytes, sum))
            return false;
        const std::array<std::uint8_t, 2> field{static_cast<std::uint8_t>(sum >> 8),
                                                static_cast<std::uint8_t>(sum)};
        if (!wrote(MendSum::GameBoyGlobal, 0x14E, field.data(), field.size()))
            return false;
    }
    if (std::uint8_t sum = 0; Has(plan, MendSum::GbaHeader) &&
                              (!GbaHeader(bytes, sum) || !wrote(MendSum::GbaHeader, 0xBD, &sum, 1)))
        return false;
    if (Has(plan, MendSum::SnesChecksum)) {
        const std::uint64_t copier = plan.length % 1024 == 512 ? 512 : 0;
        std::uint16_t sum = 0;
        if (!SnesSum(bytes, copier, plan.snesHeader, sum))
            return false;
        const auto complement = static_cast<std::uint16_t>(sum ^ 0xFFFF);
        const std::array<std::uint8_t, 4> fields{
            static_cast<std::uint8_t>(complement), static_cast<std::uint8_t>(complement >> 8),
            static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8)};
        if (!wrote(MendSum::SnesChecksum, plan.snesHeader + 0x1C, fields.data(), fields.size()))
            return false;
    }
    if (Has(plan, MendSum::GenesisChecksum)) {
        std::uint16_t sum = 0;
        if (!GenesisSum(bytes, sum))
            return false;
        const std::array<std::uint8_t, 2> field{static_cast<std::uint8_t>(sum >> 8),
                                                static_cast<std::uint8_t>(sum)};
        if (!wrote(MendSum::GenesisChecksum, 0x18E, field.data(), field.size()))
            return false;
    }
    if (Has(plan, MendSum::PngCrc)) {
        for (const MendChunk& chunk : plan.chunks) {
            std::uint32_t crc = 0;
            if (!ChunkCrc(bytes, chunk, crc))
                return false;
            const std::array<std::uint8_t, 4> field{
                static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)};
            if (!WriteAt(file, chunk.offset + 4 + chunk.size, field.data(), field.size()))
                return false;
        }
        mended.emplace_back(MendName(MendSum::PngCrc));
    }
    return true;
}

} // namespace glitchwerk
