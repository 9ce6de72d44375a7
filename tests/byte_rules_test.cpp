#include "byte_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace glitchwerk {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ParseHexField, ReadsTextAsTheFieldDoes) {
    const struct {
        std::string text;
        std::uint32_t value;
    } cases[] = {
        {"", 0},
        {"ff", 0xFF},
        {"FF", 0xFF},
        {"aBcD", 0xABCD},
        {"g1", 0x1},
        {"0x1F", 0x1F},
        {"1 2", 0x12},
        {"-5", 0x5},
        {"\xff"
         "1",
         0x1},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"100000001", 0x1},
        {"F0000001 ", 0x1},
        {"12345678x", 0x02345678},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHexField(c.text), c.value) << '"' << c.text << '"';
}

TEST(ClampByte, SaturatesParsedByteFields) {
    const struct {
        std::string text;
        std::uint8_t value;
    } cases[] = {
        {"", 0x00},    {"7F", 0x7F},       {"FF", 0xFF},       {"100", 0xFF},
        {"1FF", 0xFF}, {"7FFFFFFF", 0xFF}, {"80000000", 0x00}, {"FFFFFFFF", 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClampByte(static_cast<std::int32_t>(ParseHexField(c.text))), c.value) << c.text;
}

struct RuleCase {
    const char* name;
    ByteRule rule;
    Bytes before;
    Bytes after;
    std::int32_t hits;
    std::int32_t first; // -7: untouched
    std::int32_t last;
};

ByteRule Rule(SearchMode search, std::uint8_t value, std::uint8_t high, ReplaceMode replace,
              std::uint8_t replaceValue) {
    return ByteRule{search, value, high, replace, replaceValue};
}

TEST(ApplyByteRule, HitsAndReplacesByTheRule) {
    using enum SearchMode;
    using enum ReplaceMode;
    const RuleCase cases[] = {
        {"zeros found and rewritten unchanged",
         Rule(SearchSpecificByte, 0, 0, ReplaceSpecificByte, 0), Bytes(5, 0), Bytes(5, 0), 5, 0, 4},
        {"specific value",
         Rule(SearchSpecificByte, 0x42, 0, ReplaceSpecificByte, 0xEE),
         {0x41, 0x42, 0x43, 0x42, 0x44},
         {0x41, 0xEE, 0x43, 0xEE, 0x44},
         2,
         1,
         3},
        {"range bounds",
         Rule(SearchByteRange, 0x10, 0x20, ReplaceSpecificByte, 0xAA),
         {0x0F, 0x10, 0x1F, 0x20},
         {0x0F, 0xAA, 0xAA, 0x20},
         2,
         1,
         2},
        {"range never hits its high bound",
         Rule(SearchByteRange, 0x00, 0xFF, ReplaceSpecificByte, 0x01),
         {0xFF, 0x00, 0x7F, 0xFE, 0xFF},
         {0xFF, 0x01, 0x01, 0x01, 0xFF},
         3,
         1,
         3},
        {"equal bounds hit nothing",
         Rule(SearchByteRange, 0x10, 0x10, ReplaceSpecificByte, 0),
         {0x10, 0x0F, 0x11},
         {0x10, 0x0F, 0x11},
         0,
         -7,
         -7},
        {"reversed bounds hit nothing",
         Rule(SearchByteRange, 0x20, 0x10, ReplaceSpecificByte, 0),
         {0x10, 0x15, 0x20},
         {0x10, 0x15, 0x20},
         0,
         -7,
         -7},
        {"increase saturates",
         Rule(SearchAllBytes, 0, 0, ReplaceIncreaseBy, 0x10),
         {0xF8, 0x05, 0xEF, 0xFF},
         {0xFF, 0x15, 0xFF, 0xFF},
         4,
         0,
         3},
        {"increase by FF",
         Rule(SearchAllBytes, 0, 0, ReplaceIncreaseBy, 0xFF),
         {0x01, 0x00},
         {0xFF, 0xFF},
         2,
         0,
         1},
        {"decrease saturates",
         Rule(SearchAllBytes, 0, 0, ReplaceDecreaseBy, 0x10),
         {0x08, 0x80, 0x10, 0x00},
         {0x00, 0x70, 0x00, 0x00},
         4,
         0,
         3},
        {"miss leaves indices",
         Rule(SearchSpecificByte, 0x99, 0, ReplaceIncreaseBy, 1),
         {1, 2, 3},
         {1, 2, 3},
         0,
         -7,
         -7},
        {"empty window", Rule(SearchAllBytes, 0, 0, ReplaceSpecificByte, 9), {}, {}, 0, -7, -7},
    };
    for (const auto& c : cases) {
        Bytes buffer = c.before;
        std::int32_t first = -7;
        std::int32_t last = -7;
        const auto hits = ApplyByteRule(buffer.data(), static_cast<std::int32_t>(buffer.size()),
                                        c.rule, first, last);
        EXPECT_EQ(buffer, c.after) << c.name;
        EXPECT_EQ(hits, c.hits) << c.name;
        EXPECT_EQ(first, c.first) << c.name;
        EXPECT_EQ(last, c.last) << c.name;
    }
}

TEST(ApplyByteRule, NegativeCountTouchesNothing) {
    Bytes buffer{1, 2, 3};
    std::int32_t first = -7;
    std::int32_t last = -7;
    EXPECT_EQ(
        ApplyByteRule(buffer.data(), -3,
                      Rule(SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0),
                      first, last),
        0);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
    EXPECT_EQ(first, -7);
}

Bytes RandomAll(std::size_t length) {
    Bytes buffer(length, 0);
    std::int32_t first = -1;
    std::int32_t last = -1;
    ApplyByteRule(buffer.data(), static_cast<std::int32_t>(length),
                  Rule(SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0), first,
                  last);
    return buffer;
}

TEST(ApplyByteRule, RandomBytesRepeatForTheSameSeed) {
    SeedRandomGenerator(1234);
    const Bytes first = RandomAll(4096);
    SeedRandomGenerator(1234);
    EXPECT_EQ(RandomAll(4096), first);
    SeedRandomGenerator(1235);
    EXPECT_NE(RandomAll(4096), first);

    // The stream goes on across calls: two windows draw what one long one does.
    SeedRandomGenerator(1234);
    Bytes split = RandomAll(1000);
    const Bytes rest = RandomAll(3096);
    split.insert(split.end(), rest.begin(), rest.end());
    EXPECT_EQ(split, first);

    // Every byte value turns up: the draws are taken modulo 256.
    std::vector<bool> seen(256);
    for (const auto b : first)
        seen[b] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

TEST(ApplyByteRule, RandomDrawsOnePerHitByteInOrder) {
    SeedRandomGenerator(77);
    const Bytes draws = RandomAll(3);

    using enum SearchMode;
    for (const ByteRule rule :
         {Rule(SearchSpecificByte, 0x42, 0, ReplaceMode::ReplaceRandomByte, 0),
          Rule(SearchByteRange, 0x40, 0x43, ReplaceMode::ReplaceRandomByte, 0)}) {
        SeedRandomGenerator(77);
        Bytes buffer{0x00, 0x42, 0x99, 0x42, 0xFF, 0x42, 0x00};
        std::int32_t first = -1;
        std::int32_t last = -1;
        EXPECT_EQ(ApplyByteRule(buffer.data(), 7, rule, first, last), 3);
        EXPECT_EQ(buffer, (Bytes{0x00, draws[0], 0x99, draws[1], 0xFF, draws[2], 0x00}));
        EXPECT_EQ(first, 1);
        EXPECT_EQ(last, 5);
    }
}

} // namespace
} // namespace glitchwerk
