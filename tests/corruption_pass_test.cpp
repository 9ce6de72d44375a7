// SPDX-License-Identifier: MIT
#include "engine/corruption_pass.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace glitchwerk {
namespace {

using testing::Bytes;

constexpr ByteRule kZeroToEE{SearchMode::SearchSpecificByte, 0x00, 0,
                             ReplaceMode::ReplaceSpecificByte, 0xEE};

// Each case runs on a file of `length` counting bytes, recorded as `recorded` bytes long. Its first
// 0x10080 bytes hold no zero, so some windows have no hit. Every zero byte in the range becomes EE.
TEST(RunCorruptionPass, CorruptsTheRangeWindowByWindowWithinTheFile) {
    constexpr std::uint32_t L = 0x20000;
    const struct {
        std::uint32_t start, end, recorded, length;
        std::int32_t hits, first, last;
    } cases[] = {
        // clang-format off
        {0, 0x10100, L, L, 0, -1, -1},                             // byte 10100 is past the end
        {0x100, 0x10101, L, L, 1, 0x10100, 0x10100},               // one hit, in a second window
        {0x8081, 0x180F0, L, L, 0x80, 0x10100, 0x18000},           // none in the second window
        {0x10100, 0xFFFFFFFF, 0x18000, L, 0x7F, 0x10100, 0x17F00}, // end lowered to recorded
        {0x80, L, L, 0x10180, 1, 0x10100, 0x10100},                // shortened: not extended
        {0x20, 0x10, L, L, 0, -1, -1},
        // clang-format on
    };
    testing::TempDir dir;
    const auto file = dir / "game.nes";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.start << ".." << c.end);
        Bytes bytes = testing::CountingBytes(c.length);
        std::replace(bytes.begin(), bytes.begin() + 0x10080, std::uint8_t{0}, std::uint8_t{1});
        testing::WriteFile(file, bytes);

        RandomStream stream;
        std::vector<CorruptionResult> results;
        ASSERT_TRUE(
            RunCorruptionPass({file, c.recorded, {{c.start, c.end, kZeroToEE}}}, stream, results));
        EXPECT_EQ((std::array{results.at(0).totalBytes, results[0].firstByte, results[0].lastByte}),
                  (std::array{c.hits, c.first, c.last}));
        for (std::uint64_t i = c.start; i < std::min({c.end, c.recorded, c.length}); ++i)
            bytes[i] = bytes[i] == 0 ? 0xEE : bytes[i];
        EXPECT_EQ(testing::ReadFile(file), bytes);
    }
}

// A file shortened since it was backed up moves the stream as the whole one: the next step draws
// the same bytes, so that a chain replays whatever happened to the file meanwhile.
TEST(RunCorruptionPass, AShortenedFileDrawsAsTheRecordedOne) {
    testing::TempDir dir;
    const ByteRule random{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
    Bytes made[2];
    for (const std::size_t length : {0x100, 0x80}) {
        testing::WriteFile(dir / "f", Bytes(length));
        RandomStream stream{7, 0};
        std::vector<CorruptionResult> results;
        ASSERT_TRUE(RunCorruptionPass(
            {dir / "f", 0x100, {{0, 0x100, random}, {0x10, 0x20, random}}}, stream, results));
        EXPECT_EQ(stream.draw, 0x110u);
        made[length == 0x80] = testing::ReadFile(dir / "f");
    }
    EXPECT_EQ(Bytes(made[0].begin(), made[0].begin() + 0x80), made[1]);
}

// A pick over every byte, which chooses without reading, chooses among the bytes the file holds.
TEST(RunCorruptionPass, APickChoosesAmongTheBytesOfAShortenedFile) {
    const testing::TempDir dir;
    testing::WriteFile(dir / "f", Bytes(0x80));
    const ByteRule set{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 1};
    RandomStream stream;
    std::vector<CorruptionResult> results;
    ASSERT_TRUE(RunCorruptionPass({dir / "f", 0x100, {{0, 0x100, set, {SpreadKind::Pick, 0x100}}}},
                                  stream, results));
    EXPECT_EQ(results.at(0).totalBytes, 0x80);
    EXPECT_EQ(testing::ReadFile(dir / "f"), Bytes(0x80, 1));
}

TEST(RunCorruptionPass, RefusesWhatIsNoPlainFile) {
    const testing::TempDir dir(true);
    testing::MakePipe("pipe");
    RandomStream stream;
    std::vector<CorruptionResult> results;
    // Never blocks on a pipe, nor reads from and writes into a device.
    for (const char* other : {"/nonexistent/game.nes", "pipe", "/dev/zero", "NUL"})
        EXPECT_FALSE(RunCorruptionPass({other, 16, {{0, 16, kZeroToEE}}}, stream, results))
            << other;
    // Nor takes a step out of bounds, on a file of a block more than a shuffle takes.
    constexpr std::uint32_t kLength = kMostShuffledBlocks + 1;
    testing::WriteFile("file", Bytes(kLength));
    using enum SpreadKind;
    using enum WholeRule;
    using enum ReplaceMode;
    const auto every = [](ReplaceMode mode, std::uint8_t value = 0) {
        return ByteRule{SearchMode::SearchAllBytes, 0, 0, mode, value};
    };
    const ByteRule all = every(ReplaceXor);
    const ByteRule range{SearchMode::SearchByteRange, 0, 9, ReplaceXor, 0};
    const std::tuple<ByteRule, Spread, RangeRule> refused[] = {
        // clang-format off
        {kZeroToEE, {EveryNth, 0}, {}}, {kZeroToEE, {Pick, kMostPicked + 1}, {}},
        {every(ReplaceRotateLeft, 0), {}, {}}, {every(ReplaceRotateLeft, 8), {}, {}},
        {every(ReplaceTilt), {}, {}},
        // A whole-range rule takes every byte: no search, no sparse spread.
        {kZeroToEE, {}, {Shift, 1}}, {range, {}, {Reverse, 2}}, {all, {EveryNth, 2}, {Swap, 2}},
        {all, {Pick, 3}, {Smooth, 2}}, {all, {}, {Reverse, 0}}, {all, {}, {CopyFrom, -1}},
        {all, {}, {Smooth, kMostBlockBytes + 1}}, {all, {}, {static_cast<WholeRule>(99), 1}},
        {all, {}, {Shuffle, 1}},
        // clang-format on
    };
    for (const auto& [rule, spread, whole] : refused) {
        EXPECT_FALSE(RunCorruptionPass({"file", kLength, {{0, 0xFFFFFFFF, rule, spread, whole}}},
                                       stream, results))
            << static_cast<int>(whole.kind) << " " << whole.value;
    }
    EXPECT_EQ(testing::ReadFile("file"), Bytes(kLength));
    // Every first match is every byte.
    EXPECT_TRUE(RunCorruptionPass(
        {"file", kLength, {{0, kLength, all, {EveryNth, 1}, {Shuffle, 2}}}}, stream, results));
}

} // namespace
} // namespace glitchwerk
