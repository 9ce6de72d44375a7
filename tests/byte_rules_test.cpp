#include "byte_rules.h"

#include <gtest/gtest.h>

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
// clang-format on

TEST(ApplyByteRule, NegativeCountTouchesNothing) {
    Bytes buffer{1, 2, 3};
    std::int32_t first = -1;
    std::int32_t last = -1;
    const ByteRule rule{SearchAllBytes, 0, 0, ReplaceSpecificByte, 0};
    EXPECT_EQ(ApplyByteRule(buffer.data(), -3, rule, first, last), 0);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
}

} // namespace
} // namespace glitchwerk
