#include "byte_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace glitchwerk {
namespace {

using Bytes = std::vector<std::uint8_t>;
using enum SearchMode;
using enum ReplaceMode;

// clang-format off
TEST(ParseHexField, ReadsTextAsTheFieldDoes) {
    const struct { std::string text; std::uint32_t value; } cases[] = {
        {"", 0},          {"ff", 0xFF},        {"FF", 0xFF},          {"aBcD", 0xABCD},
        {"g1", 0x1},      {"0x1F", 0x1F},      {"1 2", 0x12},         {"-5", 0x5},
        {"\xff" "1", 0x1}, {"FFFFFFFF", 0xFFFFFFFF}, {"100000001", 0x1}, {"F0000001 ", 0x1},
        {"12345678x", 0x02345678},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHexField(c.text), c.value) << '"' << c.text << '"';
}

TEST(ClampByte, SaturatesParsedByteFields) {
    const struct { std::string text; std::uint8_t value; } cases[] = {
        {"", 0x00},    {"7F", 0x7F},       {"FF", 0xFF},       {"100", 0xFF},
        {"1FF", 0xFF}, {"7FFFFFFF", 0xFF}, {"80000000", 0x00}, {"FFFFFFFF", 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClampByte(static_cast<std::int32_t>(ParseHexField(c.text))), c.value) << c.text;
}

// Fixed cases at the edges of each rule; the differential test compares every
// rule pair with a byte-by-byte loop on random windows.
TEST(ApplyByteRule, HitsAndReplacesByTheRule) {
    constexpr std::int32_t kUntouched = -7;
    const struct {
        ByteRule rule; Bytes before; Bytes after; std::int32_t hits, first, last;
    } cases[] = {
        {{SearchSpecificByte, 0, 0, ReplaceSpecificByte, 0}, Bytes(5, 0), Bytes(5, 0), 5, 0, 4},
        {{SearchByteRange, 0x10, 0x20, ReplaceSpecificByte, 0xAA},
         {0x0F, 0x10, 0x1F, 0x20}, {0x0F, 0xAA, 0xAA, 0x20}, 2, 1, 2},
        {{SearchByteRange, 0x00, 0xFF, ReplaceSpecificByte, 0x01},
         {0xFF, 0x00, 0xFE, 0xFF}, {0xFF, 0x01, 0x01, 0xFF}, 2, 1, 2},
        {{SearchByteRange, 0x10, 0x10, ReplaceSpecificByte, 0}, {0x10}, {0x10}, 0, kUntouched, kUntouched},
        {{SearchByteRange, 0x20, 0x10, ReplaceSpecificByte, 0}, {0x15}, {0x15}, 0, kUntouched, kUntouched},
        {{SearchAllBytes, 0, 0, ReplaceIncreaseBy, 0x10}, {0xF8, 0x05, 0xFF}, {0xFF, 0x15, 0xFF}, 3, 0, 2},
        {{SearchAllBytes, 0, 0, ReplaceIncreaseBy, 0xFF}, {0x01}, {0xFF}, 1, 0, 0},
        {{SearchAllBytes, 0, 0, ReplaceDecreaseBy, 0x10}, {0x08, 0x80, 0x00}, {0x00, 0x70, 0x00}, 3, 0, 2},
        {{SearchAllBytes, 0, 0, ReplaceSpecificByte, 9}, {}, {}, 0, kUntouched, kUntouched},
    };
    for (const auto& c : cases) {
        Bytes buffer = c.before;
        std::int32_t first = kUntouched;
        std::int32_t last = kUntouched;
        const auto hits = ApplyByteRule(buffer.data(), static_cast<std::int32_t>(buffer.size()),
                                        c.rule, first, last);
        EXPECT_EQ(buffer, c.after);
        EXPECT_EQ((std::array{hits, first, last}), (std::array{c.hits, c.first, c.last}));
    }
    Bytes buffer{1, 2, 3};
    std::int32_t first = kUntouched;
    EXPECT_EQ(ApplyByteRule(buffer.data(), -3, cases[0].rule, first, first), 0);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
}
// clang-format on

Bytes RandomAll(std::size_t length) {
    Bytes buffer(length, 0);
    std::int32_t first = -1;
    std::int32_t last = -1;
    ApplyByteRule(buffer.data(), static_cast<std::int32_t>(length),
                  {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, first, last);
    return buffer;
}

TEST(ApplyByteRule, RandomBytesRepeatForTheSameSeedAndCoverEveryValue) {
    SeedRandomGenerator(1234);
    const Bytes first = RandomAll(4096);
    SeedRandomGenerator(1234);
    EXPECT_EQ(RandomAll(4096), first);
    SeedRandomGenerator(1235);
    EXPECT_NE(RandomAll(4096), first);

    std::vector<bool> seen(256);
    for (const auto b : first)
        seen[b] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

} // namespace
} // namespace glitchwerk
