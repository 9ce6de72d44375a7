// SPDX-License-Identifier: MIT
// ApplyByteRule on one 64 KiB window held in cache, for every search mode with
// every replace mode, against memcpy of the same window.

#include "bench/figures.h"

#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"
#include "engine/range_rules.h"

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>

namespace glitchwerk::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A window on a 64-byte boundary. Two vectors that malloc places one after the
// other start 16 bytes past a multiple of 4096 apart, where a copy from one to
// the other takes 1.4 times as long on Zen 5 (882 against 632 ns for 64 KiB):
// the floor and the rules would then change with the heap's order of the run.
// Where a figure reads one window and writes another, both are one array's.
struct Window {
    alignas(64) std::array<std::uint8_t, kWindowSize> bytes{};
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
};

constexpr std::uint8_t kSearchValue = 0x20;
constexpr std::uint8_t kRangeLow = 0x40;
constexpr std::uint8_t kRangeHigh = 0xC0;

// A mix of byte values in which the specific-byte search hits about 3.4% of
// the bytes and the range search about half.
const Window& MixedWindow() {
    static const std::unique_ptr<Window> window = [] {
        auto mixed = std::make_unique<Window>();
        std::mt19937 generator(2024);
        std::uniform_int_distribution<int> value(0, 255);
        std::bernoulli_distribution searched(0.03);
        for (auto& b : mixed->bytes)
            b = searched(generator) ? kSearchValue : static_cast<std::uint8_t>(value(generator));
        return mixed;
    }();
    return *window;
}

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// A rule changes the window it runs on, so every iteration starts from a fresh
// copy of the mixed bytes and only the rule itself is timed. The copy also
// leaves the window in cache, where the pass holds it.
void RuleOnWindow(benchmark::State& state, ByteRule rule) {
    const auto owned = std::make_unique<Window>();
    Window& window = *owned;
    for (auto _ : state) {
        std::memcpy(window.data(), MixedWindow().data(), kWindowSize);
        benchmark::ClobberMemory();
        std::int32_t first = -1;
        std::int32_t last = -1;
        const auto start = Clock::now();
        std::int32_t hits = ApplyByteRule(window.data(), kWindowSize, rule, {1, 0}, first, last);
        benchmark::DoNotOptimize(hits);
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    state.SetBytesProcessed(state.iterations() * kWindowSize);
}

// The floor: copying the same window, in cache, to a second buffer.
void CopyWindow(benchmark::State& state) {
    const auto owned = std::make_unique<std::array<Window, 2>>();
    auto& [window, copy] = *owned;
    for (auto _ : state) {
        std::memcpy(window.data(), MixedWindow().data(), kWindowSize);
        benchmark::ClobberMemory();
        const auto start = Clock::now();
        std::memcpy(copy.data(), window.data(), kWindowSize);
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    state.SetBytesProcessed(state.iterations() * kWindowSize);
}

// A whole-range rule from a copy of the mixed window into a second one, as the
// pass computes it, the two as far apart as memcpy's; a shuffle draws its order
// too.
void WholeOnWindow(benchmark::State& state, WholeRule kind, std::size_t block) {
    const auto owned = std::make_unique<std::array<Window, 2>>();
    auto& [source, window] = *owned;
    std::memcpy(source.data(), MixedWindow().data(), kWindowSize);
    for (auto _ : state) {
        benchmark::ClobberMemory();
        const auto start = Clock::now();
        const std::uint8_t* from = source.data();
        switch (kind) {
        case WholeRule::Reverse:
            ReverseBlocks(from, window.data(), kWindowSize, block);
            break;
        case WholeRule::Swap:
            SwapBlocks(from, window.data(), kWindowSize, block);
            break;
        case WholeRule::Smooth:
            SmoothBytes(from, window.data(), kWindowSize, kWindowSize, block);
            break;
        default: // Shuffle
            ShuffleBlocks(from, window.data(), block,
                          static_cast<std::uint32_t>(kWindowSize / block), {1, 0});
            break;
        }
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    state.SetBytesProcessed(state.iterations() * kWindowSize);
}

benchmark::internal::Benchmark* Timed(benchmark::internal::Benchmark* benchmark) {
    return benchmark->UseManualTime()->MinTime(0.05)->Repetitions(9);
}

} // namespace

void AddWindowBenchmarks() {
    const std::string memcpyName = "memcpy 64 KiB";
    Timed(AddFigure(memcpyName, "", Target::None, CopyWindow));

    const struct {
        const char* name;
        SearchMode mode;
    } searches[] = {
        {"specific", SearchMode::SearchSpecificByte},
        {"range", SearchMode::SearchByteRange},
        {"all", SearchMode::SearchAllBytes},
    };
    const struct {
        const char* name;
        ReplaceMode mode;
    } replaces[] = {
        {"set", ReplaceMode::ReplaceSpecificByte},
        {"increase", ReplaceMode::ReplaceIncreaseBy},
        {"decrease", ReplaceMode::ReplaceDecreaseBy},
        {"random", ReplaceMode::ReplaceRandomByte},
        {"xor", ReplaceMode::ReplaceXor},
        {"rotate-left", ReplaceMode::ReplaceRotateLeft},
        {"flip-bit", ReplaceMode::ReplaceFlipBit},
        {"tilt", ReplaceMode::ReplaceTilt},
    };
    for (const auto& search : searches) {
        const std::uint8_t value =
            search.mode == SearchMode::SearchByteRange ? kRangeLow : kSearchValue;
        for (const auto& replace : replaces) {
            // The count of a rotation is 1 to 7; 3 here.
            const std::uint8_t by = replace.mode == ReplaceMode::ReplaceRotateLeft ? 3 : 0x10;
            const ByteRule rule{search.mode, value, kRangeHigh, replace.mode, by};
            const std::string prefix = std::string("ApplyByteRule ") + search.name + "/";
            // The drawn rules against random bytes, the others against memcpy.
            const bool random = replace.mode == ReplaceMode::ReplaceRandomByte;
            const bool drawn = DrawsPerByte(replace.mode) && !random;
            Timed(AddFigure(prefix + replace.name, drawn ? prefix + "random" : memcpyName,
                            random  ? Target::EightGigabytesPerSecond
                            : drawn ? Target::WithinTwentyPercent
                                    : Target::QuarterOfFloor,
                            [rule](benchmark::State& state) { RuleOnWindow(state, rule); }));
        }
    }
    for (const auto& [name, kind] :
         {std::pair{"reverse", WholeRule::Reverse}, std::pair{"swap", WholeRule::Swap},
          std::pair{"shuffle", WholeRule::Shuffle}, std::pair{"smooth", WholeRule::Smooth}}) {
        for (const std::size_t block : {64, 100, 4096}) {
            const WholeRule rule = kind;
            Timed(AddFigure(
                std::string("Whole range ") + name + " " + std::to_string(block), memcpyName,
                Target::WithinThrice,
                [rule, block](benchmark::State& state) { WholeOnWindow(state, rule, block); }));
        }
    }
}

} // namespace glitchwerk::bench
