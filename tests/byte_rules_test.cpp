// SPDX-License-Identifier: MIT
#include "engine/byte_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace glitchwerk {
namespace {

using Bytes = std::vector<std::uint8_t>;
using enum SearchMode;
using enum ReplaceMode;

// clang-format off
TEST(ParseHexField, ReadsTextAsTheFieldDoesAndSaturatesToAByte) {
    const struct { std::string text; std::uint32_t value; std::uint8_t byte; } cases[] = {
        {"", 0, 0},                 {"ff", 0xFF, 0xFF},          {"7F", 0x7F, 0x7F},
        {"aBcD", 0xABCD, 0xFF},     {"g1", 0x1, 0x1},            {"0x1F", 0x1F, 0x1F},
        {"1 2", 0x12, 0x12},        {"-5", 0x5, 0x5},            {"\xff" "1", 0x1, 0x1},
        {"100", 0x100, 0xFF},       {"7FFFFFFF", 0x7FFFFFFF, 0xFF}, {"80000000", 0x80000000, 0},
        {"FFFFFFFF", 0xFFFFFFFF, 0}, {"100000001", 0x1, 0x1},     {"F0000001 ", 0x1, 0x1},
        {"12345678x", 0x02345678, 0xFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseHexField(c.text), c.value) << '"' << c.text << '"';
        EXPECT_EQ(ClampByte(static_cast<std::int32_t>(c.value)), c.byte) << c.text;
    }
}
// clang-format on

// The vectorized ApplyByteRule against a plain byte-by-byte loop written from
// the rule tables, over many random windows, rules and buffer positions.
struct Outcome {
    Bytes bytes;
    std::int32_t hits = 0, first = -7, last = -7; // first and last are written only on a hit
};

// `draws` is the random stream; `position` the draw that byte 0 would take,
// moved on by the count. A count of 0 or less does nothing.
Outcome Reference(Bytes bytes, std::int32_t count, const ByteRule& rule, const Bytes& draws,
                  std::size_t& position) {
    Outcome out{std::move(bytes)};
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t b = out.bytes[i];
        const bool hit =
            rule.searchMode == SearchAllBytes ||
            (rule.searchMode == SearchSpecificByte && b == rule.searchValue) ||
            (rule.searchMode == SearchByteRange && rule.searchValue <= b && b < rule.searchHigh);
        if (!hit)
            continue;
        if (out.hits++ == 0)
            out.first = i;
        out.last = i;
        out.bytes[i] = rule.replaceMode == ReplaceSpecificByte ? rule.replaceValue
                       : rule.replaceMode == ReplaceIncreaseBy ? ClampByte(b + rule.replaceValue)
                       : rule.replaceMode == ReplaceDecreaseBy ? ClampByte(b - rule.replaceValue)
                                                               : draws.at(position + i);
    }
    position += std::max(count, 0);
    return out;
}

// The first `count` draws after seeding: every byte of a window is hit.
Bytes Draws(std::uint32_t seed, std::size_t count) {
    Bytes draws(count);
    std::int32_t first = 0, last = 0;
    SeedRandomGenerator(seed);
    ApplyByteRule(draws.data(), static_cast<std::int32_t>(count),
                  {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, first, last);
    return draws;
}

TEST(ApplyByteRuleDifferential, MatchesTheByteByByteRuleOnRandomWindows) {
    constexpr std::size_t kLongest = 0x10000 + 77;
    constexpr std::size_t kGuard = 64;
    constexpr int kWindowsPerStream = 3;
    std::mt19937 random(20240611);
    const auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    // Rule values at the edges (saturation, empty and full ranges) half the time.
    const auto value = [&] {
        constexpr std::array<std::uint8_t, 5> kEdges{0x00, 0x01, 0x7F, 0x80, 0xFF};
        return below(2) ? kEdges[below(5)] : static_cast<std::uint8_t>(below(256));
    };

    for (int search = 0; search <= 2; ++search) {
        for (int replace = 0; replace <= 3; ++replace) {
            for (std::uint32_t seed = 0; seed < 6; ++seed) {
                SCOPED_TRACE(::testing::Message() << "search " << search << ", replace " << replace
                                                  << ", seed " << seed);
                const Bytes draws = Draws(seed, kWindowsPerStream * kLongest);
                SeedRandomGenerator(seed);
                std::size_t position = 0;
                // Several windows in a row: the random stream goes on across calls.
                for (int window = 0; window < kWindowsPerStream; ++window) {
                    const ByteRule rule{static_cast<SearchMode>(search), value(), value(),
                                        static_cast<ReplaceMode>(replace), value()};
                    // Short windows often, so that edges are well covered; now and
                    // then a negative count.
                    const std::size_t length = below(2) ? below(300) : below(kLongest + 1);
                    const auto count = static_cast<std::int32_t>(below(20) ? length : ~length);
                    // From no hit at all to nearly every byte the searched one.
                    const std::uint32_t percentSearched = std::array{0, 1, 5, 50, 100}[below(5)];
                    Bytes bytes(length);
                    for (auto& b : bytes)
                        b = below(100) < percentSearched ? rule.searchValue
                                                         : static_cast<std::uint8_t>(below(256));

                    // The window sits at any offset in a larger buffer, odd ones too.
                    const std::size_t offset = below(kGuard);
                    Bytes buffer(kGuard + length + kGuard, 0xA5);
                    std::copy(bytes.begin(), bytes.end(), buffer.begin() + offset);
                    Outcome actual;
                    actual.hits = ApplyByteRule(buffer.data() + offset, count, rule, actual.first,
                                                actual.last);
                    actual.bytes.assign(buffer.begin() + offset, buffer.begin() + offset + length);

                    const Outcome expected = Reference(bytes, count, rule, draws, position);
                    SCOPED_TRACE(::testing::Message() << "window " << window << ", count " << count
                                                      << ", offset " << offset);
                    ASSERT_EQ(std::tie(actual.hits, actual.first, actual.last),
                              std::tie(expected.hits, expected.first, expected.last));
                    const auto differs = std::ranges::mismatch(actual.bytes, expected.bytes).in1;
                    ASSERT_EQ(differs - actual.bytes.begin(), std::ssize(actual.bytes));
                    buffer.erase(buffer.begin() + offset, buffer.begin() + offset + length);
                    ASSERT_EQ(buffer, Bytes(kGuard + kGuard, 0xA5)) << "bytes outside changed";
                }
            }
        }
    }
}

// Shared recipes replay the random stream: it must never change. Bytes 0 to 1F
// are all hit, of 20 to 3F only those from 28 up to 30, with draws 28 to 2F.
TEST(ApplyByteRuleDifferential, RandomStreamStaysTheSame) {
    Bytes bytes(0x40);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    std::int32_t first = 0, last = 0;
    SeedRandomGenerator(20261207);
    ApplyByteRule(bytes.data(), 0x20, {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, first, last);
    ApplyByteRule(bytes.data() + 0x20, 0x20, {SearchByteRange, 0x28, 0x30, ReplaceRandomByte, 0},
                  first, last);
    std::string hex;
    for (const std::uint8_t b : bytes)
        hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
    EXPECT_EQ(hex, "8C325004C4636A293526B6CB24AA8DECA05C0BAEA33960A78339B9FFAE110581"
                   "20212223242526271A83CF71CFAF8E7F303132333435363738393A3B3C3D3E3F");
}

} // namespace
} // namespace glitchwerk
