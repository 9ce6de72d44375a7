// SPDX-License-Identifier: MIT
#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

namespace glitchwerk {
namespace {

using testing::Bytes;
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

// The vectorized ApplyByteRule and the pass's spreads against a plain
// byte-by-byte loop written from the rule tables and their definitions.
struct Outcome {
    std::int32_t hits = 0, first = -1, last = -1;
};

// A step of the pass as defined: the matches of its range on the bytes before
// it, the spread's choice of them, byte o taking draw `draw` + (o - start).
Outcome StepReference(Bytes& file, const CorruptionStep& step, std::uint32_t seed,
                      std::size_t& draw, const Bytes& draws) {
    const std::size_t start = step.startOffset;
    const std::size_t end = std::min<std::size_t>(step.endOffset, file.size());
    const ByteRule& rule = step.rule;
    std::vector<std::size_t> hit;
    for (std::size_t o = start; o < end; ++o) {
        const std::uint8_t b = file[o];
        if (rule.searchMode == SearchAllBytes ||
            (rule.searchMode == SearchSpecificByte && b == rule.searchValue) ||
            (rule.searchMode == SearchByteRange && rule.searchValue <= b && b < rule.searchHigh))
            hit.push_back(o);
    }
    const std::uint32_t n = step.spread.n;
    if (step.spread.kind == SpreadKind::EveryNth) {
        std::erase_if(hit, [&, m = std::size_t{0}](std::size_t) mutable { return m++ % n; });
    } else if (step.spread.kind == SpreadKind::Pick) {
        std::ranges::sort(hit, {}, [&](std::size_t o) {
            return std::pair{PickKey(seed, draw, o), o};
        });
        hit.resize(std::min<std::size_t>(hit.size(), n));
        std::ranges::sort(hit);
    }
    for (const std::size_t o : hit) {
        const std::uint8_t b = file[o];
        file[o] = rule.replaceMode == ReplaceSpecificByte ? rule.replaceValue
                  : rule.replaceMode == ReplaceIncreaseBy ? ClampByte(b + rule.replaceValue)
                  : rule.replaceMode == ReplaceDecreaseBy ? ClampByte(b - rule.replaceValue)
                                                          : draws.at(draw + o - start);
    }
    if (rule.replaceMode == ReplaceRandomByte || step.spread.kind == SpreadKind::Pick)
        draw += end > start ? end - start : 0;
    const auto at = [&](std::size_t i) {
        return hit.empty() ? -1 : static_cast<std::int32_t>(hit[i]);
    };
    return {static_cast<std::int32_t>(hit.size()), at(0), at(hit.size() - 1)};
}

// The first `count` draws of a seed: every byte of a window is hit.
Bytes Draws(std::uint32_t seed, std::size_t count) {
    Bytes draws(count);
    std::int32_t first = 0, last = 0;
    ApplyByteRule(draws.data(), static_cast<std::int32_t>(count),
                  {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, {seed, 0}, first, last);
    return draws;
}

struct Randomness {
    std::mt19937 random{20240611};
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); }
    // Rule values at the edges (saturation, empty and full ranges) half the time.
    std::uint8_t value() {
        constexpr std::array<std::uint8_t, 5> kEdges{0x00, 0x01, 0x7F, 0x80, 0xFF};
        return below(2) ? kEdges[below(5)] : static_cast<std::uint8_t>(below(256));
    }
    // From no match at all to nearly every byte the searched one.
    Bytes Mix(std::size_t length, std::uint8_t searched) {
        const std::uint32_t percentSearched = std::array{0, 1, 5, 50, 100}[below(5)];
        Bytes bytes(length);
        for (auto& b : bytes)
            b = below(100) < percentSearched ? searched : static_cast<std::uint8_t>(below(256));
        return bytes;
    }
};

TEST(ApplyByteRuleDifferential, MatchesTheByteByByteRuleOnRandomWindows) {
    constexpr std::size_t kLongest = 0x10000 + 77;
    constexpr std::size_t kGuard = 64;
    constexpr int kWindowsPerStream = 3;
    Randomness r;

    for (int search = 0; search <= 2; ++search) {
        for (int replace = 0; replace <= 3; ++replace) {
            for (std::uint32_t seed = 0; seed < 6; ++seed) {
                SCOPED_TRACE(::testing::Message() << "search " << search << ", replace " << replace
                                                  << ", seed " << seed);
                const Bytes draws = Draws(seed, kWindowsPerStream * kLongest);
                std::size_t position = 0;
                // Several windows in a row: the random stream goes on across calls.
                for (int window = 0; window < kWindowsPerStream; ++window) {
                    const ByteRule rule{static_cast<SearchMode>(search), r.value(), r.value(),
                                        static_cast<ReplaceMode>(replace), r.value()};
                    // Short windows often, so that edges are well covered; now and
                    // then a negative count.
                    const std::size_t length = r.below(2) ? r.below(300) : r.below(kLongest + 1);
                    const auto count = static_cast<std::int32_t>(r.below(20) ? length : ~length);
                    const Bytes bytes = r.Mix(length, rule.searchValue);

                    // The window sits at any offset in a larger buffer, odd ones too.
                    const std::size_t offset = r.below(kGuard);
                    Bytes buffer(kGuard + length + kGuard, 0xA5);
                    std::copy(bytes.begin(), bytes.end(), buffer.begin() + offset);
                    Outcome actual;
                    actual.hits = ApplyByteRule(buffer.data() + offset, count, rule,
                                                {seed, position}, actual.first, actual.last);
                    Bytes expected = bytes;
                    const CorruptionStep step{0, static_cast<std::uint32_t>(std::max(count, 0)),
                                              rule};
                    const Outcome e = StepReference(expected, step, seed, position, draws);
                    SCOPED_TRACE(::testing::Message() << "window " << window << ", count " << count
                                                      << ", offset " << offset);
                    ASSERT_EQ(std::tie(actual.hits, actual.first, actual.last),
                              std::tie(e.hits, e.first, e.last));
                    const auto differs =
                        std::mismatch(expected.begin(), expected.end(), buffer.begin() + offset)
                            .first;
                    ASSERT_EQ(differs - expected.begin(), std::ssize(expected));
                    buffer.erase(buffer.begin() + offset, buffer.begin() + offset + length);
                    ASSERT_EQ(buffer, Bytes(kGuard + kGuard, 0xA5)) << "bytes outside changed";
                }
            }
        }
    }
}

// The pass's spreads over files of up to three windows, in chains of steps
// along one stream.
TEST(ApplyByteRuleDifferential, SpreadsMatchTheByteByByteRuleOnRandomFiles) {
    Randomness r;
    const testing::TempDir dir;
    for (int run = 0; run < 60; ++run) {
        const std::uint32_t length = r.below(3 * kWindowSize);
        const std::uint32_t seed = r.below(1000);
        std::vector<CorruptionStep> steps(1 + r.below(3));
        for (auto& step : steps) {
            step.startOffset = r.below(length + 1);
            step.endOffset = step.startOffset + 1 + r.below(r.below(2) ? 300 : 2 * kWindowSize);
            step.rule = {static_cast<SearchMode>(r.below(3)), r.value(), r.value(),
                         static_cast<ReplaceMode>(r.below(4)), r.value()};
            step.spread = {static_cast<SpreadKind>(r.below(3)), 1 + r.below(r.below(3) ? 9 : 3000)};
        }
        SCOPED_TRACE(::testing::Message() << "run " << run << ", length " << length);
        Bytes expected = r.Mix(length, steps[0].rule.searchValue);
        testing::WriteFile(dir / "file", expected);
        RandomStream stream{seed, r.below(3) ? 0 : r.below(1000)};
        std::size_t draw = stream.draw;
        std::vector<CorruptionResult> results;
        ASSERT_TRUE(RunCorruptionPass({dir / "file", length, steps}, stream, results));

        const Bytes draws = Draws(seed, draw + steps.size() * length);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Outcome e = StepReference(expected, steps[i], seed, draw, draws);
            const CorruptionResult& got = results.at(i);
            EXPECT_EQ(std::tie(got.totalBytes, got.firstByte, got.lastByte),
                      std::tie(e.hits, e.first, e.last));
        }
        EXPECT_EQ(stream.draw, draw);
        ASSERT_EQ(testing::ReadFile(dir / "file"), expected);
    }
}

// Recipes replay the random stream and the spreads' choices: never change them. On bytes 00 to 3F:
// all of 0 to 1F random; of 20 to 3F those from 28 up to 30, with draws 28 to 2F; the 1st, 4th,
// ... of those from 10 up to 30; 5 of those from 7 on, picked.
TEST(ApplyByteRuleDifferential, RandomStreamAndSpreadsStayTheSame) {
    const std::pair<std::vector<CorruptionStep>, const char*> cases[] = {
        {{{0, 0x20, {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}},
          {0x20, 0x40, {SearchByteRange, 0x28, 0x30, ReplaceRandomByte, 0}}},
         "8C325004C4636A293526B6CB24AA8DECA05C0BAEA33960A78339B9FFAE110581"
         "20212223242526271A83CF71CFAF8E7F303132333435363738393A3B3C3D3E3F"},
        {{{0,
           0x40,
           {SearchByteRange, 0x10, 0x30, ReplaceSpecificByte, 0xFF},
           {SpreadKind::EveryNth, 3}}},
         "000102030405060708090A0B0C0D0E0FFF1112FF1415FF1718FF1A1BFF1D1EFF"
         "2021FF2324FF2627FF292AFF2C2DFF2F303132333435363738393A3B3C3D3E3F"},
        {{{7, 0x40, {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, {SpreadKind::Pick, 5}}},
         "000102030405060732090A0B0C0D0E0F101112131415161718191A1B1C1D1E83"
         "202122232405262728652A2B2C2D2E2F833132333435363738393A3B3C3D3E3F"},
    };
    const testing::TempDir dir;
    for (const auto& [steps, golden] : cases) {
        testing::WriteFile(dir / "file", testing::CountingBytes(0x40));
        RandomStream stream{20261207, 0};
        std::vector<CorruptionResult> results;
        ASSERT_TRUE(RunCorruptionPass({dir / "file", 0x40, steps}, stream, results));
        std::string hex;
        for (const std::uint8_t b : testing::ReadFile(dir / "file"))
            hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
        EXPECT_EQ(hex, golden);
    }
    EXPECT_EQ(PickKey(20261207, 7, 0x1234), 2873316401377866318u);
}

} // namespace
} // namespace glitchwerk
