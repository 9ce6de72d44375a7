// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"
#include "engine/crc32.h"
#include "engine/mend.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <numeric>
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
std::uint32_t Sum(const Bytes& f, std::size_t from, std::size_t to) {
    return std::accumulate(f.begin() + static_cast<std::ptrdiff_t>(from),
                           f.begin() + static_cast<std::ptrdiff_t>(to), 0u);
}
void FixGameBoy(Bytes& f, bool global = true) {
    f[0x14D] = static_cast<std::uint8_t>(0 - Sum(f, 0x134, 0x14D) - (0x14D - 0x134));
    if (global)
        Put(f, 0x14E, Sum(f, 0, f.size()) - f[0x14E] - f[0x14F], 2, true);
}
void FixGba(Bytes& f) {
    f[0xBD] = static_cast<std::uint8_t>(0 - Sum(f, 0xA0, 0xBD) - 0x19);
}
// The image after the copier header, its SNES header's four bytes FF FF 00 00, mirrored to 2P.
void FixSnes(Bytes& f, std::size_t header) {
    const std::size_t copier = f.size() % 1024 == 512 ? 512 : 0;
    Bytes image(f.begin() + static_cast<std::ptrdiff_t>(copier), f.end());
    Put(image, header - copier + 0x1C, 0x0000FFFF, 4, false);
    const std::size_t p = std::bit_floor(image.size());
    for (std::size_t j = 0; image.size() > p && j < p && image.size() < 2 * p; ++j)
        image.push_back(image[p + j]);
    const std::uint32_t sum = Sum(image, 0, image.size());
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

using Fix = std::function<void(Bytes&)>;
const Fix kGameBoy = [](Bytes& f) { FixGameBoy(f); };
const Fix kSnesHigh = [](Bytes& f) { FixSnes(f, 0xFFC0); };

// `length` random bytes, `marks` written at their offsets, then the sums by `fix`.
Bytes Made(std::size_t length, std::vector<std::pair<std::size_t, std::string>> marks,
           const Fix& fix) {
    std::mt19937 random(static_cast<std::uint32_t>(length));
    Bytes f(length);
    for (auto& b : f)
        b = static_cast<std::uint8_t>(random());
    for (const auto& [at, mark] : marks)
        std::memcpy(f.data() + at, mark.data(), mark.size());
    fix(f);
    return f;
}

const std::string kLogo = "\xCE\xED\x66\x66\xCC\x0D\x00\x0B\x03\x73\x00\x83\x00\x0C\x00\x0D"
                          "\x00\x08\x11\x1F\x88\x89\x00\x0E\xDC\xCC\x6E\xE6\xDD\xDD\xD9\x99"
                          "\xBB\xBB\x67\x63\x6E\x0E\xEC\xCC\xDD\xDC\x99\x9F\xBB\xB9\x33\x3E"s;
// Signature, then IHDR, tEXt, IDAT and IEND of random data.
const std::vector<std::pair<std::size_t, std::string>> kPngMarks{{0, "\x89PNG\r\n\x1A\n"},
                                                                 {8, "\0\0\0\x0DIHDR"s},
                                                                 {33, "\0\0\0\x28tEXt"s},
                                                                 {85, "\0\0\x01\x2CIDAT"s},
                                                                 {397, "\0\0\0\0IEND"s}};

// One row per format: a file valid there, corrupted by a step (XOR FF) over `from`..`to` with
// `kept` left, mended: the corruption with its sums written by the plain computation of `fix`.
TEST(MendChecksums, EachFormatsSumsAreValidAgainAfterACorruption) {
    const struct {
        const char* what;
        std::size_t length;
        std::vector<std::pair<std::size_t, std::string>> marks;
        Fix fix;
        std::uint32_t from, to;
        std::vector<std::string> mended;
        KeptRange kept{};
    } cases[] = {
        // clang-format off
        {"Game Boy", 0x8000, {{0x104, kLogo}}, kGameBoy, 0x134, 0x8000, {"gb-header", "gb-global"},
         {0x14D, 0x150}},
        {"Game Boy, the global sum wrong there", 0x8000, {{0x104, kLogo}},
         [](Bytes& f) { FixGameBoy(f, false); }, 0x140, 0x200, {"gb-header"}},
        {"GBA", 0x4000, {{3, "\xEA"}, {0xB2, "\x96"}}, FixGba, 0xA0, 0xB0, {"gba-header"}},
        {"SNES LoROM, copier header, mirrored", 0x30200, {}, [](Bytes& f) { FixSnes(f, 0x81C0); },
         0x300, 0x30200, {"snes-checksum"}, {0x81DC, 0x81E0}},
        {"SNES HiROM, part mirrored", 0x26000, {}, kSnesHigh, 0x20000, 0x20010, {"snes-checksum"}},
        {"SNES HiROM, a power of two", 0x20000, {}, kSnesHigh, 0xFFDC, 0xFFE0, {"snes-checksum"}},
        {"Genesis, SEGA at 100, an odd last byte", 0x4001, {{0x100, "SEGA"}}, FixGenesis, 0x3000,
         0x4001, {"genesis-checksum"}},
        {"Genesis, SEGA at 101", 0x4000, {{0x101, " SEGA"}}, FixGenesis, 0x200, 0x300,
         {"genesis-checksum"}},
        {"PNG, tEXt changed", 409, kPngMarks, [](Bytes& f) { FixPng(f); }, 0x30, 0x40, {"png-crc"}},
        {"PNG, the IDAT's CRC wrong there", 409, kPngMarks, [](Bytes& f) { FixPng(f, "IDAT"); },
         0x30, 0x50, {"png-crc"}},
        // clang-format on
    };
    const testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes original = Made(c.length, c.marks, c.fix);
        testing::WriteFile(dir / "file", original);
        FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
        MendPlan plan;
        ASSERT_TRUE(FindMendable(file.get(), plan));
        const CorruptionStep step{
            c.from, c.to, {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceXor, 0xFF}};
        RandomStream stream;
        std::vector<CorruptionResult> results;
        ASSERT_EQ(RunCorruptionPass(file.get(),
                                    {{}, static_cast<std::uint32_t>(c.length), {step}, {c.kept}},
                                    stream, results),
                  PassOutcome::Done);
        std::vector<std::string> mended;
        ASSERT_TRUE(MendChecksums(file.get(), plan, mended) && CloseStream(file));
        EXPECT_EQ(mended, c.mended);
        const Bytes result = testing::ReadFile(dir / "file");
        Bytes corrupted = original;
        for (std::uint32_t o = c.from; o < c.to; ++o)
            corrupted[o] ^= o >= c.kept.start && o < c.kept.end ? 0 : 0xFF;
        EXPECT_NE(corrupted, result);
        c.fix(corrupted);
        EXPECT_EQ(corrupted, result);
    }
}

// A sum is mended only where it was valid, in a file of its format: never into another kind.
// A shorter file than the original fails, nothing written.
TEST(MendChecksums, WritesNothingWhereNoSumWasValidNorIntoAShorterFile) {
    const Fix wrongGenesis = [](Bytes& f) { FixGenesis(f), f[0x18F] ^= 1; };
    const Fix noSnes = [](Bytes& f) { FixSnes(f, 0x7FC0), f[0x9000] ^= 1; }; // a complement alone
    const testing::TempDir dir;
    for (const Bytes& original :
         {Made(0x4001, {{0x100, "SEGA"}, {0, "\xFF\xD8\xFF"}}, FixGenesis), // a JPEG
          Made(0x4001, {{0x100, "SEGA"}}, wrongGenesis), Made(0x20000, {}, noSnes), Bytes(0x300)}) {
        testing::WriteFile(dir / "file", original);
        FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
        MendPlan plan;
        std::vector<std::string> mended{"left"};
        ASSERT_TRUE(FindMendable(file.get(), plan) && MendChecksums(file.get(), plan, mended));
        EXPECT_EQ(plan.sums, 0u);
        EXPECT_TRUE(mended.empty());
    }
    testing::WriteFile(dir / "file", Made(0x8000, {{0x104, kLogo}}, kGameBoy));
    FileHandle file = OpenFile(dir / "file", OpenHow::Existing);
    MendPlan plan;
    ASSERT_TRUE(FindMendable(file.get(), plan) && plan.sums != 0);
    const std::uint8_t changed = 0; // a header sum to write
    ASSERT_TRUE(WriteAt(file.get(), 0x140, &changed, 1) && ResizeStream(file.get(), 0x7000));
    const Bytes before = testing::ReadFile(dir / "file");
    std::vector<std::string> mended;
    EXPECT_FALSE(MendChecksums(file.get(), plan, mended));
    EXPECT_EQ(testing::ReadFile(dir / "file"), before);
}

// The copy's CRC-32s are those of the bytes written, by a plain computation; a source shorter
// than the length asked for fails the copy.
TEST(CopyWithCrc32, CopiesInOnePassAndSumsWhatItWrote) {
    const Bytes ines = Made(0x40010, {{0, "NES\x1A"}}, [](Bytes&) {});
    // The bytes, the length asked for, and whether they make an iNES ROM.
    const std::tuple<Bytes, std::uint64_t, bool> cases[] = {
        {Made(0x100001, {}, [](Bytes&) {}), 0x100001, false},
        {ines, 0x40010, true},
        {Bytes(ines.begin(), ines.begin() + 15), 15, false}, // too short for a header
        {Bytes{}, 0, false},
        {Bytes(1000), 1001, false}};
    const testing::TempDir dir;
    for (const auto& [bytes, length, header] : cases) {
        testing::WriteFile(dir / "from", bytes);
        FileHandle from = OpenFile(dir / "from", OpenHow::Reading);
        std::filesystem::remove(dir / "to");
        FileHandle to = OpenFile(dir / "to", OpenHow::New);
        FileCrc32 crc{1, 2};
        ASSERT_EQ(CopyWithCrc32(from.get(), to.get(), length, crc), length == bytes.size());
        to.reset();
        const Bytes copy = testing::ReadFile(dir / "to");
        if (length == bytes.size()) {
            EXPECT_EQ(copy, bytes);
            EXPECT_EQ(crc, (FileCrc32{PlainCrc(copy, 0, copy.size()),
                                      header ? std::optional(PlainCrc(copy, 16, copy.size()))
                                             : std::nullopt}));
        }
    }
}

} // namespace
} // namespace glitchwerk
