// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"
#include "engine/crc32.h"
#include "engine/mend.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <random>
#include <string>

namespace glitchwerk {
namespace {

using namespace std::literals;
using testing::Bytes;

std::uint32_t PlainCrc(const Bytes& bytes, std::size_t from, std::size_t to) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = from; i < to; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void Put(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t size, bool big) {
    for (std::size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> 8 * (big ? size - 1 - i : i));
}

// Each format's sums written as its definition gives them: a file is valid when this leaves it.
void FixGameBoy(Bytes& f, bool global = true) {
    std::uint8_t x = 0;
    for (std::size_t i = 0x134; i <= 0x14C; ++i)
        x = static_cast<std::uint8_t>(x - f[i] - 1);
    f[0x14D] = x;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < f.size(); ++i)
        sum += i == 0x14E || i == 0x14F ? 0 : f[i];
    if (global)
        Put(f, 0x14E, sum, 2, true);
}
void FixGba(Bytes& f) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0xA0; i <= 0xBC; ++i)
        sum += f[i];
    f[0xBD] = static_cast<std::uint8_t>(0 - sum - 0x19);
}
// The image after the copier header, its SNES header's four bytes FF FF 00 00, mirrored to 2P.
void FixSnes(Bytes& f, std::size_t header) {
    const std::size_t copier = f.size() % 1024 == 512 ? 512 : 0;
    Bytes image(f.begin() + static_cast<std::ptrdiff_t>(copier), f.end());
    Put(image, header - copier + 0x1C, 0x0000FFFF, 4, false);
    const std::size_t p = std::bit_floor(image.size());
    for (std::size_t j = 0; image.size() > p && j < p && image.size() < 2 * p; ++j)
        image.push_back(image[p + j]);
    std::uint32_t sum = 0;
    for (const std::uint8_t b : image)
        sum += b;
    Put(f, header + 0x1C, (sum & 0xFFFF) ^ 0xFFFF, 2, false);
    Put(f, header + 0x1E, sum, 2, false);
}
void FixGenesis(Bytes& f) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0x200; i < f.size(); i += 2)
        sum += f[i] << 8 | (i + 1 < f.size() ? f[i + 1] : 0);
    Put(f, 0x18E, sum, 2, true);
}
void FixPng(Bytes& f, const std::string& left = "") {
    for (std::size_t at = 8; at + 12 <= f.size();) {
        const std::size_t size = f[at] << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
        if (size > f.size() - at - 12)
            break;
        if (std::string(f.begin() + at + 4, f.begin() + at + 8) != left)
            Put(f, at + 8 + size, PlainCrc(f, at + 4, at + 8 + size), 4, true);
        at += 12 + size;
    }
}

Bytes Noise(std::size_t length, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}
void Write(Bytes& bytes, std::size_t at, const std::string& text) {
    std::memcpy(bytes.data() + at, text.data(), text.size());
}

const std::string kLogo = "\xCE\xED\x66\x66\xCC\x0D\x00\x0B\x03\x73\x00\x83\x00\x0C\x00\x0D"
                          "\x00\x08\x11\x1F\x88\x89\x00\x0E\xDC\xCC\x6E\xE6\xDD\xDD\xD9\x99"
                          "\xBB\xBB\x67\x63\x6E\x0E\xEC\xCC\xDD\xDC\x99\x9F\xBB\xB9\x33\x3E"s;

Bytes GameBoy(bool global) {
    Bytes f = Noise(0x8000, 1);
    Write(f, 0x104, kLogo);
    FixGameBoy(f, global);
    return f;
}
Bytes Gba() {
    Bytes f = Noise(0x4000, 2);
    f[3] = 0xEA;
    f[0xB2] = 0x96;
    FixGba(f);
    return f;
}
Bytes Snes(std::size_t length, std::size_t header) {
    Bytes f = Noise(length, static_cast<std::uint32_t>(length));
    FixSnes(f, header);
    return f;
}
Bytes Genesis(std::size_t at, const std::string& mark, std::size_t length = 0x4001) {
    Bytes f = Noise(length, 4);
    Write(f, at, mark);
    FixGenesis(f);
    return f;
}
// Signature, IHDR, tEXt, IDAT and IEND, of random contents; the CRC of chunk `wrong` left so.
Bytes Png(const std::string& wrong = "") {
    Bytes f(8);
    Write(f, 0, "\x89PNG\r\n\x1A\n");
    for (const auto& [type, size] :
         {std::pair{"IHDR", 13}, {"tEXt", 40}, {"IDAT", 300}, {"IEND", 0}}) {
        Bytes chunk = Noise(12 + size, static_cast<std::uint32_t>(size));
        Put(chunk, 0, size, 4, true);
        Write(chunk, 4, type);
        f.insert(f.end(), chunk.begin(), chunk.end());
    }
    FixPng(f, wrong);
    return f;
}

// One row per format: a file valid there, corrupted by a step (XOR FF) over `from`..`to` with the
// sums' fields kept, mended, then valid by the plain computation of `fix` again.
TEST(MendChecksums, EachFormatsSumsAreValidAgainAfterACorruption) {
    const struct {
        const char* what;
        Bytes original;
        std::uint32_t from, to;
        std::vector<std::string> mended;
        std::function<void(Bytes&)> fix;
        KeptRange kept{};
    } cases[] = {
        // clang-format off
        {"Game Boy", GameBoy(true), 0x134, 0x8000, {"gb-header", "gb-global"},
         [](Bytes& f) { FixGameBoy(f); }, {0x14D, 0x150}},
        {"Game Boy, the global sum wrong there", GameBoy(false), 0x140, 0x200, {"gb-header"},
         [](Bytes& f) { FixGameBoy(f, false); }},
        {"GBA", Gba(), 0xA0, 0xB0, {"gba-header"}, FixGba},
        {"SNES LoROM, copier header, mirrored", Snes(0x30200, 0x81C0), 0x300, 0x30200,
         {"snes-checksum"}, [](Bytes& f) { FixSnes(f, 0x81C0); }, {0x81DC, 0x81E0}},
        {"SNES HiROM, mirrored in part", Snes(0x26000, 0xFFC0), 0x20000, 0x20010,
         {"snes-checksum"}, [](Bytes& f) { FixSnes(f, 0xFFC0); }},
        {"SNES HiROM, a power of two", Snes(0x20000, 0xFFC0), 0xFFDC, 0xFFE0, {"snes-checksum"},
         [](Bytes& f) { FixSnes(f, 0xFFC0); }},
        {"Genesis, SEGA at 100, an odd last byte", Genesis(0x100, "SEGA"), 0x3000, 0x4001,
         {"genesis-checksum"}, FixGenesis},
        {"Genesis, SEGA at 101", Genesis(0x101, " SEGA"), 0x200, 0x300, {"genesis-checksum"},
         FixGenesis},
        {"PNG, a change in tEXt", Png(), 0x30, 0x40, {"png-crc"}, [](Bytes& f) { FixPng(f); }},
        {"PNG, the IDAT's CRC wrong there", Png("IDAT"), 0x30, 0x50, {"png-crc"},
         [](Bytes& f) { FixPng(f, "IDAT"); }},
        // clang-format on
    };
    const testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::WriteFile(dir / "file", c.original);
        FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
        const std::optional<MendPlan> plan = FindMendable(file.get());
        ASSERT_TRUE(plan);
        const auto length = static_cast<std::uint32_t>(c.original.size());
        const CorruptionStep step{
            c.from, c.to, {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceXor, 0xFF}};
        RandomStream stream;
        std::vector<CorruptionResult> results;
        ASSERT_EQ(RunCorruptionPass(file.get(), {{}, length, {step}, {c.kept}}, stream, results),
                  PassOutcome::Done);
        std::vector<std::string> mended;
        ASSERT_TRUE(MendChecksums(file.get(), *plan, mended));
        ASSERT_TRUE(CloseStream(file));
        EXPECT_EQ(mended, c.mended);
        // The corruption with its sums written by the plain computation: they differed.
        const Bytes result = testing::ReadFile(dir / "file");
        Bytes corrupted = c.original;
        for (std::uint32_t o = c.from; o < c.to; ++o)
            corrupted[o] ^= o >= c.kept.start && o < c.kept.end ? 0 : 0xFF;
        EXPECT_NE(corrupted, result);
        c.fix(corrupted);
        EXPECT_EQ(corrupted, result);
    }
}

// A sum is mended only where it was valid, in a file of its format: never into another kind.
TEST(MendChecksums, WritesNothingWhereNoSumWasValid) {
    Bytes genesisInJpeg = Genesis(0x100, "SEGA");
    Write(genesisInJpeg, 0, "\xFF\xD8\xFF");
    FixGenesis(genesisInJpeg);
    Bytes wrongGenesis = Genesis(0x100, "SEGA");
    wrongGenesis[0x18F] ^= 1;
    Bytes noSnes = Snes(0x20000, 0x7FC0);
    noSnes[0x9000] ^= 1; // the complement holds, the sum does not
    const testing::TempDir dir;
    for (const Bytes& original : {genesisInJpeg, wrongGenesis, noSnes, Bytes(0x300)}) {
        testing::WriteFile(dir / "file", original);
        FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
        const std::optional<MendPlan> plan = FindMendable(file.get());
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->sums, 0u);
        std::vector<std::string> mended{"left"};
        ASSERT_TRUE(MendChecksums(file.get(), *plan, mended));
        EXPECT_TRUE(mended.empty());
    }
}

TEST(MendChecksums, FailsOnAFileShorterThanTheOriginalAndWritesNothing) {
    const testing::TempDir dir;
    const Bytes original = GameBoy(true);
    testing::WriteFile(dir / "file", original);
    FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
    const std::optional<MendPlan> plan = FindMendable(file.get());
    ASSERT_TRUE(plan && plan->sums != 0);
    Bytes changed(original.begin(), original.begin() + 0x7000);
    changed[0x140] ^= 1; // a header sum to write
    ASSERT_TRUE(WriteAt(file.get(), 0x140, &changed[0x140], 1));
    ASSERT_TRUE(ResizeStream(file.get(), 0x7000));
    std::vector<std::string> mended;
    EXPECT_FALSE(MendChecksums(file.get(), *plan, mended));
    file.reset();
    EXPECT_EQ(testing::ReadFile(dir / "file"), changed);
}

// The copy's CRC-32s are those of the bytes written, by a plain computation; a source shorter
// than the length asked for fails the copy.
TEST(CopyWithCrc32, CopiesInOnePassAndSumsWhatItWrote) {
    Bytes ines = Noise(0x40010, 7);
    Write(ines, 0, "NES\x1A");
    const struct {
        Bytes bytes;
        std::uint64_t length;
        bool copied;
        bool header;
    } cases[] = {
        {Noise(0x100001, 8), 0x100001, true, false},
        {ines, 0x40010, true, true},
        {Bytes(ines.begin(), ines.begin() + 15), 15, true, false}, // too short for a header
        {Bytes{}, 0, true, false},
        {Noise(1000, 9), 1001, false, false},
    };
    const testing::TempDir dir;
    for (const auto& c : cases) {
        testing::WriteFile(dir / "from", c.bytes);
        FileHandle from = OpenFile(dir / "from", OpenHow::Reading);
        std::filesystem::remove(dir / "to");
        FileHandle to = OpenFile(dir / "to", OpenHow::New);
        FileCrc32 crc{1, 2};
        ASSERT_EQ(CopyWithCrc32(from.get(), to.get(), c.length, crc), c.copied) << c.length;
        to.reset();
        if (!c.copied)
            continue;
        const Bytes copy = testing::ReadFile(dir / "to");
        EXPECT_EQ(copy, c.bytes);
        EXPECT_EQ(crc.whole, PlainCrc(copy, 0, copy.size()));
        EXPECT_EQ(crc.withoutHeader,
                  c.header ? std::optional(PlainCrc(copy, 16, copy.size())) : std::nullopt);
    }
}

} // namespace
} // namespace glitchwerk
