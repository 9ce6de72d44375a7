// SPDX-License-Identifier: MIT
#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"
#include "engine/range_rules.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <numeric>
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

// The divisions by multiplication, at every divisor they take, on the values where a quotient
// changes (each side of a multiple), where the parts of the method meet, and at random.
TEST(SmallDivisor, GivesEveryRemainderExactly) {
    std::mt19937 random(3);
    for (std::uint32_t d = 2; d < 512; ++d) {
        const SmallDivisor divisor(d);
        std::vector<std::uint32_t> values(1024);
        std::iota(values.begin(), values.end(), 0u);
        for (std::uint64_t h = 0; h < 0x10000; h += 1 + random() % 64) {
            const std::uint64_t multiple = (h << 16 | random() % 0x10000) / d * d;
            for (const std::uint64_t v : {h << 16, h << 16 | 0xFFFF, multiple, multiple + d - 1})
                values.push_back(
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFF)));
        }
        for (std::uint32_t i = 0; i < 1024; ++i)
            values.push_back(~i), values.push_back(static_cast<std::uint32_t>(random()));
        const auto n = static_cast<std::int32_t>(d / 2);
        for (const std::uint32_t v : values) {
            ASSERT_EQ(divisor.Remainder(v), v % d) << d << " " << v;
            ASSERT_EQ(divisor.Remainder(v, v >> 16, -n), static_cast<std::int32_t>(v % d) - n);
        }
    }
}

// Smooth at the blocks where its ways of dividing meet, on flat bytes, random ones, and a square
// wave of the block's period, whose windows move by the most in either direction; the bytes past
// `count` are left and none past `available` read.
TEST(SmoothBytes, MatchesPlainMeansAtEveryKindOfBlock) {
    std::mt19937 random(7);
    for (const std::size_t block :
         {1, 2, 63, 64, 65, 257, 258, 4095, 4096, 4097, 16384, 16385, 32768, 65536}) {
        const struct {
            std::size_t count, available;
        } shapes[] = {{block + 200, block + 200},
                      {2 * block + 77, 3 * block + 80},
                      {block / 2 + 1, block + 150},
                      {block - 1, block - 1}};
        for (int pattern = 0; pattern < 4; ++pattern) {
            for (const auto [count, available] : shapes) {
                Bytes from(available);
                for (std::size_t i = 0; i < available; ++i)
                    from[i] = std::array<std::uint8_t, 4>{
                        0, 0xFF, static_cast<std::uint8_t>(random()),
                        static_cast<std::uint8_t>(i / block % 2 * 0xFF)}[pattern];
                Bytes expected(count + 1, 0xA5);
                std::uint64_t sum = 0;
                for (std::size_t p = available; p-- > 0;) {
                    sum += from[p] - (p + block < available ? from[p + block] : 0);
                    if (p < count)
                        expected[p] =
                            static_cast<std::uint8_t>(sum / (std::min(available, p + block) - p));
                }
                Bytes to(count + 1, 0xA5);
                SmoothBytes(from.data(), to.data(), count, available, block);
                ASSERT_EQ(to, expected) << block << " " << pattern << " " << count;
            }
        }
    }
}

// Blocks of a multiple of 64 that are no power of two, many groups of 64 apart.
TEST(SmoothBytes, MatchesPlainMeansAtMultiplesOf64) {
    std::mt19937 random(11);
    for (const std::size_t block : {192, 320, 4032, 16320}) {
        for (int pattern = 0; pattern < 2; ++pattern) {
            Bytes from(4 * block + 200);
            for (std::size_t i = 0; i < from.size(); ++i)
                from[i] = static_cast<std::uint8_t>(pattern ? i / block % 2 * 0xFF : random());
            Bytes expected(from.size() - block + 1);
            std::uint32_t sum = std::accumulate(&from[0], &from[0] + block - 1, 0U);
            for (std::size_t p = 0; p < expected.size(); ++p) {
                sum += from[p + block - 1];
                expected[p] = static_cast<std::uint8_t>(sum / block);
                sum -= from[p];
            }
            Bytes to(expected.size());
            SmoothBytes(from.data(), to.data(), to.size(), from.size(), block);
            ASSERT_EQ(to, expected) << block << " " << pattern;
        }
    }
}

// Its quotients are monotone: right on both sides of every multiple and at the top, right for all.
TEST(LaneDivisor, DividesAtEveryEdge) {
    for (std::uint32_t block = 3; block <= 16384; ++block) {
        if (std::has_single_bit(block))
            continue;
        const LaneDivisor divide(block);
        const std::uint32_t top = 65407 - divide.increment;
        const auto check = [&](std::uint32_t n) {
            ASSERT_EQ(divide.Quotient(static_cast<std::uint16_t>(n + divide.increment)), n / block)
                << block << " " << n;
        };
        for (std::uint32_t n = block; n <= top; n += block) {
            check(n - 1);
            check(n);
        }
        check(top);
    }
}

// The vectorized ApplyByteRule and the pass's spreads against a plain
// byte-by-byte loop written from the rule tables and their definitions.
struct Outcome {
    std::int32_t hits = 0, first = -1, last = -1;
};

std::uint8_t Replaced(std::uint8_t b, const ByteRule& rule, std::uint32_t v) {
    const std::uint8_t n = rule.replaceValue;
    switch (rule.replaceMode) {
    // clang-format off
    case ReplaceSpecificByte: return n;
    case ReplaceIncreaseBy: return ClampByte(b + n);
    case ReplaceDecreaseBy: return ClampByte(b - n);
    case ReplaceRandomByte: return static_cast<std::uint8_t>(v);
    case ReplaceXor: return b ^ n;
    case ReplaceFlipBit: return b ^ (1 << v % 8);
    case ReplaceRotateLeft: return static_cast<std::uint8_t>(b << n | b >> (8 - n));
    case ReplaceTilt: return ClampByte(b + static_cast<std::int32_t>(v % (2 * n + 1)) - n);
        // clang-format on
    }
    return b;
}

// A whole-range rule as defined: each byte of [start, end) from its source in `before` (the file
// before the step), where that is in the file, or a mean of the bytes from it on.
void WholeReference(const Bytes& before, Bytes& after, std::size_t start, std::size_t end,
                    RangeRule whole, std::uint32_t seed, std::size_t draw) {
    using enum WholeRule;
    const std::int64_t v = whole.value;
    const auto block =
        static_cast<std::size_t>(whole.kind == Shift || whole.kind == CopyFrom ? 1 : v);
    std::vector<std::uint64_t> sums(before.size() + 1); // sums[i]: of the bytes before i
    for (std::size_t i = 0; whole.kind == Smooth && i < before.size(); ++i)
        sums[i + 1] = sums[i] + before[i];
    std::vector<std::size_t> order((end - start) / block); // the shuffle's
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (std::size_t i = 0, k = order.size(); whole.kind == Shuffle && i + 1 < k; ++i)
        std::swap(order[k - 1 - i], order[DrawValue({seed, draw + i}) % (k - i)]);
    for (std::size_t o = start; o < end; ++o) {
        const std::size_t k = (o - start) / block, in = (o - start) % block;
        const std::size_t first = start + k * block, last = std::min(end, first + block);
        const bool paired = last - first == block && start + ((k ^ 1) + 1) * block <= end;
        const auto at = [](std::size_t i) { return static_cast<std::int64_t>(i); };
        std::int64_t source = at(o);
        switch (whole.kind) {
        // clang-format off
        case Shift: source += v; break;
        case CopyFrom: source = v + at(o - start); break;
        case Reverse: source = at(last - 1 - in); break;
        case Swap: source = paired ? at(start + (k ^ 1) * block + in) : source; break;
        case Shuffle: source = k < order.size() ? at(start + order[k] * block + in) : source; break;
        default: break;
            // clang-format on
        }
        if (source >= 0 && source < std::ssize(before))
            after[o] = before[static_cast<std::size_t>(source)];
        const std::size_t stop = std::min(end, o + block);
        if (whole.kind == Smooth)
            after[o] = static_cast<std::uint8_t>((sums[stop] - sums[o]) / (stop - o));
    }
}

// A step of the pass as defined: the matches of its range on the bytes before it, the kept ones
// aside, the spread's choice of them, byte o taking draw `draw` + (o - start).
Outcome StepReference(Bytes& file, const CorruptionStep& step, std::uint32_t seed,
                      std::size_t& draw, const std::vector<bool>& kept = {}) {
    const std::size_t start = step.startOffset;
    const std::size_t end = std::min<std::size_t>(step.endOffset, file.size());
    const ByteRule& rule = step.rule;
    const auto isKept = [&](std::size_t o) { return o < kept.size() && kept[o]; };
    std::vector<std::size_t> hit;
    for (std::size_t o = start; o < end; ++o) {
        const std::uint8_t b = file[o];
        if (!isKept(o) &&
            (rule.searchMode == SearchAllBytes || step.whole.kind != WholeRule::None ||
             (rule.searchMode == SearchSpecificByte && b == rule.searchValue) ||
             (rule.searchMode == SearchByteRange && rule.searchValue <= b && b < rule.searchHigh)))
            hit.push_back(o);
    }
    const std::uint32_t n = step.spread.n;
    if (step.spread.kind == SpreadKind::EveryNth) {
        std::erase_if(hit, [&, m = std::size_t{0}](std::size_t) mutable { return m++ % n; });
    } else if (step.spread.kind == SpreadKind::Pick) {
        std::vector<std::pair<std::uint64_t, std::size_t>> keyed;
        for (const std::size_t o : hit)
            keyed.emplace_back(PickKey(seed, draw, o), o);
        const auto kept = std::min<std::size_t>(keyed.size(), n);
        std::ranges::nth_element(keyed, keyed.begin() + static_cast<std::ptrdiff_t>(kept));
        hit.resize(kept);
        std::ranges::transform(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(kept),
                               hit.begin(), [](const auto& pick) { return pick.second; });
        std::ranges::sort(hit);
    }
    if (step.whole.kind != WholeRule::None) {
        const Bytes before = file;
        WholeReference(before, file, start, end, step.whole, seed, draw);
        for (std::size_t o = start; o < end; ++o)
            file[o] = isKept(o) ? before[o] : file[o];
    } else {
        for (const std::size_t o : hit)
            file[o] = Replaced(file[o], rule, DrawValue({seed, draw + o - start}));
    }
    const bool drawn = rule.replaceMode == ReplaceRandomByte ||
                       rule.replaceMode == ReplaceFlipBit || rule.replaceMode == ReplaceTilt;
    if (step.whole.kind == WholeRule::None ? drawn || step.spread.kind == SpreadKind::Pick
                                           : step.whole.kind == WholeRule::Shuffle)
        draw += end > start ? end - start : 0;
    const auto at = [&](std::size_t i) {
        return hit.empty() ? -1 : static_cast<std::int32_t>(hit[i]);
    };
    return {static_cast<std::int32_t>(hit.size()), at(0), at(hit.size() - 1)};
}

struct Randomness {
    std::mt19937 random{20240611};
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); }
    // Rule values at the edges (saturation, empty and full ranges) half the time.
    std::uint8_t value() {
        constexpr std::array<std::uint8_t, 5> kEdges{0x00, 0x01, 0x7F, 0x80, 0xFF};
        return below(2) ? kEdges[below(5)] : static_cast<std::uint8_t>(below(256));
    }
    // A rule's value: a rotation by 0 to 7, a tilt by 0 to FF; within the pass's bounds (1 to 7,
    // 1 to FF) for a pass.
    ByteRule Rule(SearchMode search, ReplaceMode replace, bool pass) {
        std::uint8_t by = value();
        by = replace == ReplaceRotateLeft     ? pass + below(8 - pass)
             : replace == ReplaceTilt && pass ? std::max<std::uint8_t>(by, 1)
                                              : by;
        return {search, value(), value(), replace, by};
    }
    // Blocks of one byte to the most, often small or round ones.
    std::int64_t Block() {
        constexpr std::array<std::int64_t, 7> kBlocks{1, 2, 3, 64, 257, 4096, kMostBlockBytes};
        return below(2) ? kBlocks[below(7)] : 1 + below(below(2) ? 300 : kMostBlockBytes);
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
        for (int replace = 0; replace <= 7; ++replace) {
            for (std::uint32_t seed = 0; seed < 6; ++seed) {
                SCOPED_TRACE(::testing::Message() << "search " << search << ", replace " << replace
                                                  << ", seed " << seed);
                std::size_t position = 0;
                // Several windows in a row: the random stream goes on across calls.
                for (int window = 0; window < kWindowsPerStream; ++window) {
                    const ByteRule rule = r.Rule(static_cast<SearchMode>(search),
                                                 static_cast<ReplaceMode>(replace), false);
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
                    const Outcome e = StepReference(expected, step, seed, position);
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

// The pass's spreads, whole-range rules and kept ranges (a step over the whole file leaves them)
// over files of up to three windows, in chains of steps along one stream.
TEST(ApplyByteRuleDifferential, SpreadsMatchTheByteByByteRuleOnRandomFiles) {
    Randomness r;
    const testing::TempDir dir;
    for (int run = 0; run < 90; ++run) {
        const std::uint32_t length = r.below(3 * kWindowSize);
        const std::uint32_t seed = r.below(1000);
        std::vector<CorruptionStep> steps(1 + r.below(3));
        for (auto& step : steps) {
            const bool all = r.below(4) == 0; // a quarter of the steps over the whole file
            step.startOffset = all ? 0 : r.below(length + 1);
            step.endOffset =
                all ? length : step.startOffset + 1 + r.below(r.below(2) ? 300 : 2 * kWindowSize);
            step.rule = r.Rule(static_cast<SearchMode>(r.below(3)),
                               static_cast<ReplaceMode>(r.below(8)), true);
            step.spread = {static_cast<SpreadKind>(r.below(3)), 1 + r.below(r.below(3) ? 9 : 3000)};
            if (r.below(2)) {
                const auto kind = static_cast<WholeRule>(1 + r.below(6));
                const std::int64_t reach = 2 * std::int64_t{length} + 20;
                step.whole = {kind, kind == WholeRule::Shift      ? r.below(reach) - reach / 2
                                    : kind == WholeRule::CopyFrom ? r.below(reach)
                                                                  : r.Block()};
                step.rule.searchMode = SearchAllBytes;
                step.spread = {};
            }
        }
        // Up to three kept ranges, the file's first bytes often among them.
        std::vector<KeptRange> kept(r.below(4));
        std::vector<bool> isKept(length);
        for (KeptRange& range : kept) {
            range.start = r.below(3) ? r.below(length + 1) : 0;
            range.end = range.start + r.below(r.below(2) ? 20 : kWindowSize + 10);
            for (std::uint64_t o = range.start; o < std::min<std::uint64_t>(range.end, length); ++o)
                isKept[o] = true;
        }
        SCOPED_TRACE(::testing::Message() << "run " << run << ", length " << length);
        Bytes expected = r.Mix(length, steps[0].rule.searchValue);
        testing::WriteFile(dir / "file", expected);
        RandomStream stream{seed, r.below(3) ? 0 : r.below(1000)};
        std::size_t draw = stream.draw;
        std::vector<CorruptionResult> results;
        ASSERT_TRUE(RunCorruptionPass({dir / "file", length, steps, kept}, stream, results));

        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(::testing::Message()
                         << "step " << i << ": " << steps[i].startOffset << ":"
                         << steps[i].endOffset << ", whole "
                         << static_cast<int>(steps[i].whole.kind) << " " << steps[i].whole.value);
            const Outcome e = StepReference(expected, steps[i], seed, draw, isKept);
            const CorruptionResult& got = results.at(i);
            EXPECT_EQ(std::tie(got.totalBytes, got.firstByte, got.lastByte),
                      std::tie(e.hits, e.first, e.last));
        }
        EXPECT_EQ(stream.draw, draw);
        ASSERT_EQ(testing::ReadFile(dir / "file"), expected);
    }
}

// A shuffle of more than the pass holds in memory moves its blocks in the file, cycle by cycle.
TEST(ApplyByteRuleDifferential, ALargeShuffleMatchesTheByteByByteRule) {
    constexpr std::uint32_t kLength = (9 << 20) + 1000;
    const testing::TempDir dir;
    Bytes expected(kLength);
    std::ranges::generate(expected, std::mt19937(5));
    testing::WriteFile(dir / "file", expected);
    const CorruptionStep step{
        100, kLength, {SearchAllBytes, 0, 0, ReplaceXor, 0}, {}, {WholeRule::Shuffle, 4000}};
    RandomStream stream{5, 77};
    std::vector<CorruptionResult> results;
    ASSERT_TRUE(
        RunCorruptionPass({dir / "file", kLength, {step}, {{5000, 9000}}}, stream, results));
    std::vector<bool> kept(9000);
    std::fill(kept.begin() + 5000, kept.end(), true);
    std::size_t draw = 77;
    StepReference(expected, step, 5, draw, kept);
    EXPECT_EQ(testing::ReadFile(dir / "file"), expected);
}

// A pick over every byte of a large file: its keys shared out between threads, its bytes
// rewritten in spans of many windows.
TEST(ApplyByteRuleDifferential, ALargePickMatchesTheByteByByteRule) {
    constexpr std::uint32_t kLength = (2 << 20) + 1000;
    const testing::TempDir dir;
    Bytes expected(kLength);
    std::ranges::generate(expected, std::mt19937(6));
    testing::WriteFile(dir / "file", expected);
    const CorruptionStep step{
        300, kLength, {SearchAllBytes, 0, 0, ReplaceRandomByte, 0}, {SpreadKind::Pick, 3000}};
    RandomStream stream{6, 5};
    std::vector<CorruptionResult> results;
    ASSERT_TRUE(RunCorruptionPass({dir / "file", kLength, {step}}, stream, results));
    std::size_t draw = 5;
    const Outcome e = StepReference(expected, step, 6, draw);
    EXPECT_EQ(std::tie(results.at(0).totalBytes, results[0].firstByte, results[0].lastByte),
              std::tie(e.hits, e.first, e.last));
    EXPECT_EQ(testing::ReadFile(dir / "file"), expected);
}

// Recipes replay the random stream and the spreads' choices: never change them. On bytes 00 to 3F:
// all of 0 to 1F random; of 20 to 3F those from 28 up to 30, with draws 28 to 2F; the 1st, 4th,
// ... of those from 10 up to 30; 5 of those from 7 on, picked; a bit of each flipped; each tilted
// by up to 10 either way; the blocks of 3 shuffled, the last byte left.
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
        {{{0, 0x40, {SearchAllBytes, 0, 0, ReplaceFlipBit, 0}}},
         "10050313140D020528494A031C092E1F11011A531C171797101B189B5C1F3E1D"
         "A0230222046522672C21AA29ACAD6EAFB0713037243D7677391932BB2C353F3E"},
        {{{0, 0x40, {SearchAllBytes, 0, 0, ReplaceTilt, 0x10}}},
         "0304040C000011000D06001413010304161319180823161025200A161D14101F"
         "121D251E172F241931392C3423223028313230263D3F30383D48333739363433"},
        {{{0, 0x40, {SearchAllBytes, 0, 0, ReplaceXor, 0}, {}, {WholeRule::Shuffle, 3}}},
         "27282930313218191A000102333435212223242526393A3B0F10110304052A2B"
         "2C3C3D3E1516171B1C1D121314090A0B2D2E2F3637380C0D0E0607081E1F203F"},
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
