#include "corruption_pass.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace glitchwerk {
namespace {

using testing::Bytes;
using testing::CountingBytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr ByteRule kZeroAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0};

TEST(RunCorruptionPass, ChangesExactlyTheRangeWithinTheRecordedLength) {
    constexpr std::uint32_t kLength = 0x20000;
    const struct {
        std::uint32_t start;
        std::uint32_t end;
    } cases[] = {
        {0, 0},
        {0x10, 0x10},
        {0x20, 0x10},
        {0, 0x10000},
        {0, 0x10001},
        {0x8000, 0x20000},
        {0x1FFF0, 0xFFFFFFFF},
        {kLength, kLength + 5},
        {0xFFFFFFF0, 0xFFFFFFFF},
        {0, 0x20},
    };
    TempDir dir;
    const auto file = dir / "game.nes";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.start << ".." << c.end);
        // No zero bytes, so that every byte of the range visibly changes.
        Bytes before = CountingBytes(kLength);
        std::replace(before.begin(), before.end(), std::uint8_t{0}, std::uint8_t{1});
        WriteFile(file, before);

        CorruptionResult result{99, 99, 99};
        ASSERT_TRUE(RunCorruptionPass({file, c.start, c.end, kLength, kZeroAll}, result));

        const std::uint32_t end = std::min(c.end, kLength);
        Bytes expected = before;
        const std::int32_t hits = c.start < end ? static_cast<std::int32_t>(end - c.start) : 0;
        if (hits > 0)
            std::fill(expected.begin() + c.start, expected.begin() + end, 0);
        EXPECT_EQ(ReadFile(file), expected);
        EXPECT_EQ(result.totalBytes, hits);
        EXPECT_EQ(result.firstByte, hits ? static_cast<std::int32_t>(c.start) : -1);
        EXPECT_EQ(result.lastByte, hits ? static_cast<std::int32_t>(end - 1) : -1);
    }
}

TEST(RunCorruptionPass, ReportsFirstAndLastHitAcrossWindows) {
    TempDir dir;
    const auto file = dir / "game.nes";
    Bytes bytes(0x30000, 0);
    bytes[0x12345] = 0x77;
    bytes[0x23456] = 0x77;
    WriteFile(file, bytes);

    const ByteRule rule{SearchMode::SearchSpecificByte, 0x77, 0, ReplaceMode::ReplaceIncreaseBy, 1};
    CorruptionResult result{};
    ASSERT_TRUE(RunCorruptionPass({file, 0, 0x30000, 0x30000, rule}, result));
    EXPECT_EQ(result.totalBytes, 2);
    EXPECT_EQ(result.firstByte, 0x12345);
    EXPECT_EQ(result.lastByte, 0x23456);
    bytes[0x12345] = bytes[0x23456] = 0x78;
    EXPECT_EQ(ReadFile(file), bytes);
}

TEST(RunCorruptionPass, FileShorterThanRecordedIsNotExtended) {
    TempDir dir;
    const auto file = dir / "game.nes";
    WriteFile(file, Bytes(0x100, 0x55));

    CorruptionResult result{};
    ASSERT_TRUE(RunCorruptionPass({file, 0x80, 0x20000, 0x20000, kZeroAll}, result));
    Bytes expected(0x100, 0x55);
    std::fill(expected.begin() + 0x80, expected.end(), 0);
    EXPECT_EQ(ReadFile(file), expected);
    EXPECT_EQ(result.totalBytes, 0x80);
    EXPECT_EQ(result.lastByte, 0xFF);
}

TEST(RunCorruptionPass, FailsWhenTheFileCannotBeOpenedOrWritten) {
    TempDir dir;
    CorruptionResult result{};
    EXPECT_FALSE(RunCorruptionPass({dir / "missing.nes", 0, 16, 16, kZeroAll}, result));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.nes"));
    // Every write to this device fails for lack of space.
    EXPECT_FALSE(RunCorruptionPass({"/dev/full", 0, 16, 16, kZeroAll}, result));
}

} // namespace
} // namespace glitchwerk
