// SPDX-License-Identifier: MIT
#include "engine/byte_rules.h"
#include "engine/vector_clones.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

// The loops below are plain C++ that the compiler vectorizes. The baseline
// x86-64 instruction set has 16-byte vectors and no 32-bit multiply across
// them, which leaves random replacement far below the speed of the file
// copies around it and the byte-range rules near a quarter of memcpy's; on
// GCC for x86-64 the hot functions are therefore also compiled for AVX2 and
// AVX-512, and the best version the processor supports is chosen when the
// program loads.
namespace glitchwerk {
namespace {

using Byte = std::uint8_t;

// The random generator is counter based: draw n is a hash of n and the seed,
// so draws do not wait on each other and a loop over a window computes them
// side by side.
constexpr std::uint32_t kGolden = 0x9e3779b9U;

// Mix but its first step and its last, x ^= x >> 16.
template <class Word> constexpr void MixMiddle(Word& x) {
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
}

// Mix but its last step: x >> 16 is then also v >> 16. In place, for a value
// or a vector of them.
template <class Word> constexpr void Unfinish(Word& x) {
    x ^= x >> 16;
    MixMiddle(x);
}

constexpr std::uint32_t MixUnfinished(std::uint32_t x) {
    Unfinish(x);
    return x;
}

constexpr std::uint32_t Mix(std::uint32_t x) {
    x = MixUnfinished(x);
    return x ^ (x >> 16);
}

std::uint32_t StreamKey(std::uint32_t seed) {
    return Mix(seed ^ 0x5bd1e995U);
}

// The finalizer of splitmix64, in place on a value or on vector lanes of
// them.
template <class Value> [[gnu::always_inline]] constexpr void MixUnfinishedInPlace(Value& x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
}

template <class Value> [[gnu::always_inline]] constexpr void MixInPlace(Value& x) {
    MixUnfinishedInPlace(x);
    x ^= x >> 31;
}

constexpr std::uint64_t Mix64(std::uint64_t x) {
    MixInPlace(x);
    return x;
}

constexpr std::uint64_t kGolden64 = 0x9e3779b97f4a7c15ULL;

std::uint64_t StepKey(std::uint32_t seed, std::uint64_t firstDraw) {
    return Mix64(Mix64(seed ^ 0x243f6a8885a308d3ULL) ^ firstDraw);
}

std::int32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The three search halves, each a plain test on one byte.
struct IsSpecific {
    Byte value;
    bool operator()(Byte b) const { return b == value; }
};
struct IsInRange { // low <= b < high, valid only when low < high
    Byte low;
    Byte width;
    bool operator()(Byte b) const { return static_cast<Byte>(b - low) < width; }
};
struct IsAny {
    bool operator()(Byte) const { return true; }
};

// The replace halves, given the byte and its index in the window. The
// deterministic ones are a minimum or maximum and one addition, so that they
// map to single vector instructions.
struct SetTo {
    Byte value;
    Byte operator()(Byte, std::int32_t) const { return value; }
};
struct IncreaseBy { // saturates at 0xFF
    Byte step;
    Byte operator()(Byte b, std::int32_t) const {
        return static_cast<Byte>(std::min<Byte>(b, static_cast<Byte>(0xFF - step)) + step);
    }
};
struct DecreaseBy { // saturates at 0x00
    Byte step;
    Byte operator()(Byte b, std::int32_t) const {
        return static_cast<Byte>(std::max(b, step) - step);
    }
};
// Draw n is Mix(key ^ n * kGolden), n taken modulo 2^32; random bytes take its
// low byte.
struct RandomAt {
    std::uint32_t key;
    std::uint32_t base; // the window's first draw, times kGolden
    std::uint32_t Counter(std::int32_t i) const {
        return base + static_cast<std::uint32_t>(i) * kGolden;
    }
    std::uint32_t Value(std::int32_t i) const { return Mix(key ^ Counter(i)); }
    Byte operator()(Byte, std::int32_t i) const { return static_cast<Byte>(Value(i)); }
};

RandomAt DrawsFrom(RandomStream at) {
    return {StreamKey(at.seed), static_cast<std::uint32_t>(at.draw) * kGolden};
}

struct XorWith {
    Byte mask;
    Byte operator()(Byte b, std::int32_t) const { return static_cast<Byte>(b ^ mask); }
};
struct RotateLeftBy { // 1 to 7
    Byte count;
    Byte operator()(Byte b, std::int32_t) const {
        const unsigned n = count & 7u;
        return static_cast<Byte>((b << n) | (b >> ((8 - n) & 7u)));
    }
};
// 1 << (v mod 8), from the low bytes of the draws, made first as random bytes
// are: the bit by selects on bytes (the baseline x86-64 has no vector shift
// by a count per lane), where the draw's 32-bit lanes would take four times
// as many operations.
struct FlipBitAt {
    RandomAt at;
    using Stored = Byte;
    [[gnu::always_inline]] void Draws(Byte* into, std::int32_t from, std::int32_t count) const {
        std::uint32_t counter = at.Counter(from);
        for (std::int32_t j = 0; j < count; ++j, counter += kGolden)
            into[j] = static_cast<Byte>(Mix(at.key ^ counter));
    }
    static Byte Step(Byte b, const Byte* draws, std::int32_t j) {
        const Byte v = draws[j];
        auto bit = static_cast<Byte>(1 + (v & 1));
        bit = (v & 2) != 0 ? static_cast<Byte>(bit << 2) : bit;
        bit = (v & 4) != 0 ? static_cast<Byte>(bit << 4) : bit;
        return static_cast<Byte>(b ^ bit);
    }
};
// 16 lanes of 32 bits and 32 of 16 in a vector of 64 bytes.
using DrawLanes = std::uint32_t __attribute__((vector_size(64)));
using HalfLanes = std::uint16_t __attribute__((vector_size(64)));
constexpr DrawLanes kDrawLane = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// 8 lanes of 64 bits.
using KeyLanes = std::uint64_t __attribute__((vector_size(64)));
constexpr std::int32_t kKeyLanes = 8;
// 4 signed lanes of 64 bits, the width AVX2 compares them at.
using KeyQuarter = std::int64_t __attribute__((vector_size(32)));

// Keeps the lanes of `above` set where both lanes i and i + 4 of `lanes` lie
// above `than`'s. The lanes are compared 4 at a time as signed values, their
// top bits flipped: compilers take a comparison of unsigned or of 8 lanes on
// AVX2 lane by lane through general registers.
[[gnu::always_inline]] inline void KeepAbove(const KeyLanes& lanes, const KeyQuarter& than,
                                             KeyQuarter& above) {
    using Signed = std::int64_t __attribute__((vector_size(64)));
    const auto flipped = reinterpret_cast<Signed>(lanes ^ (std::uint64_t{1} << 63));
    above &= (__builtin_shufflevector(flipped, flipped, 0, 1, 2, 3) > than) &
             (__builtin_shufflevector(flipped, flipped, 4, 5, 6, 7) > than);
}

// The high halves of the lanes of `even` and `odd`, alternately, on a
// little-endian machine: a shift and a select, where taking the high halves of
// one vector and then of another is a shuffle across both that AVX2 does lane
// by lane through the stack.
[[gnu::always_inline]] inline void HighHalves(const DrawLanes& even, const DrawLanes& odd,
                                              HalfLanes& into) {
    const DrawLanes both = (even >> 16) | (odd & 0xFFFF0000U);
    std::memcpy(&into, &both, sizeof into);
}

// By -N to +N, saturating: v mod (2N + 1) by multiplications, as division does
// not vectorize. N is 1 to FF. The draw and SmallDivisor's fraction take
// 32-bit lanes, the rest 16-bit ones, half as many. The draws are made 32 at
// a time in vectors: their counter moves on by an addition, and the high
// halves of the fractions are taken by a shift and a select.
struct TiltAt {
    RandomAt at;
    std::uint32_t d; // 2N + 1
    SmallDivisor steps{d};
    std::uint16_t n = static_cast<std::uint16_t>(d / 2);
    using Stored = std::uint16_t;

    // Mix's first step is linear in the bits: on key ^ x it is that of the
    // key, made once, xored with that of x, three terms that AVX-512 takes in
    // one instruction.
    std::uint32_t firstOfKey = at.key ^ (at.key >> 16);

    // The counter's draws' fractions, in place.
    template <class Word> [[gnu::always_inline]] void Fractions(Word& x) const {
        x = x ^ (x >> 16) ^ firstOfKey;
        MixMiddle(x);
        const Word high = x >> 16;
        x ^= high;
        steps.Fraction(x, high);
    }
    [[gnu::always_inline]] void Draws(std::uint16_t* into, std::int32_t from,
                                      std::int32_t count) const {
        std::int32_t j = 0;
        if constexpr (std::endian::native == std::endian::little) {
            DrawLanes counter = at.Counter(from) + kDrawLane * (2 * kGolden);
            for (; count - j >= 32; j += 32) {
                DrawLanes even = counter;
                DrawLanes odd = counter + kGolden;
                counter += 32 * kGolden;
                Fractions(even);
                Fractions(odd);
                HalfLanes halves;
                HighHalves(even, odd, halves);
                std::memcpy(into + j, &halves, sizeof halves);
            }
        }
        for (std::uint32_t counter = at.Counter(from + j); j < count; ++j, counter += kGolden) {
            std::uint32_t x = counter;
            Fractions(x);
            into[j] = static_cast<std::uint16_t>(x >> 16);
        }
    }
    // b + (v mod d), 0 to 2FD, kept within N to N + FF.
    std::uint16_t Raised(std::uint16_t b, std::uint16_t draw) const {
        const auto raised = static_cast<std::uint16_t>(b + steps.Remainder(draw));
        return std::min(std::max(raised, n), static_cast<std::uint16_t>(n + 0xFF));
    }
    // b + (v mod d), 0 to 2FD, less N, saturating.
    Byte Step(Byte b, const std::uint16_t* draws, std::int32_t j) const {
        return static_cast<Byte>(static_cast<Byte>(Raised(b, draws[j])) - static_cast<Byte>(n));
    }
    // Every byte of a window, 64 at a time, as 32 16-bit words: the draws of
    // their low bytes are made first, then those of their high bytes, so that
    // the step keeps the words' lanes, neither widened nor narrowed; the draws
    // stay in registers.
    [[gnu::always_inline]] void ReplaceAll(Byte* buffer, std::int32_t count) const {
        std::uint16_t draws[64];
        std::int32_t from = 0;
        if constexpr (std::endian::native == std::endian::little) {
            // Lane i holds word 2i's low byte's draw; words 2i + 1 and the
            // high bytes are kGolden steps on.
            DrawLanes counter = at.Counter(0) + kDrawLane * (4 * kGolden);
            const std::uint16_t lowered = static_cast<std::uint16_t>(n * 0x101);
            // Each 64 bytes' draws are made while the 64 before them are
            // stepped, so that the processor has the one's long chain of
            // multiplications beside the other's work (7% faster on Zen 5).
            HalfLanes nextLow{};
            HalfLanes nextHigh{};
            const auto makeNext = [&]() __attribute__((always_inline)) {
                DrawLanes lowEven = counter;
                DrawLanes highEven = counter + kGolden;
                DrawLanes lowOdd = counter + 2 * kGolden;
                DrawLanes highOdd = counter + 3 * kGolden;
                counter += 64 * kGolden;
                Fractions(lowEven);
                Fractions(highEven);
                Fractions(lowOdd);
                Fractions(highOdd);
                HighHalves(lowEven, lowOdd, nextLow);
                HighHalves(highEven, highOdd, nextHigh);
            };
            if (count >= 64)
                makeNext();
            for (; count - from >= 64; from += 64) {
                const HalfLanes low = nextLow;
                const HalfLanes high = nextHigh;
                if (count - from >= 128)
                    makeNext();
                std::memcpy(draws, &low, sizeof low);
                std::memcpy(draws + 32, &high, sizeof high);
                Byte* block = buffer + from;
                for (std::int32_t j = 0; j < 32; ++j) {
                    std::uint16_t word;
                    std::memcpy(&word, block + std::ptrdiff_t{2} * j, sizeof word);
                    const std::uint16_t lowByte =
                        Raised(static_cast<std::uint16_t>(word & 0xFF), draws[j]);
                    const std::uint16_t highByte =
                        Raised(static_cast<std::uint16_t>(word >> 8), draws[32 + j]);
                    word = static_cast<std::uint16_t>((highByte << 8) + lowByte - lowered);
                    std::memcpy(block + std::ptrdiff_t{2} * j, &word, sizeof word);
                }
            }
        }
        const std::int32_t rest = count - from;
        Draws(draws, from, rest);
        for (std::int32_t j = 0; j < rest; ++j)
            buffer[from + j] = Step(buffer[from + j], draws, j);
    }
};

// Rules whose draws are made for a block first, into an array, and its bytes
// replaced after: the draws take 32-bit lanes and the rest narrower ones, and
// so each loop keeps vectors of its own width; the draws' counter moves on
// by an addition in them.
template <class Replace>
concept InTwoLoops = requires {
    typename Replace::Stored;
};

template <InTwoLoops Replace> Byte ReplaceOne(const Replace& replace, Byte b) {
    typename Replace::Stored draw;
    replace.Draws(&draw, 0, 1);
    return replace.Step(b, &draw, 0);
}

// The scans for the first and last hit test a block at a time with a plain OR
// over it, which vectorizes; only the block that holds the hit is searched
// byte by byte.
constexpr std::int32_t kScanBlock = 64;

template <class Hit> bool BlockHasHit(const Byte* block, Hit hit) {
    Byte any = 0;
    for (std::int32_t i = 0; i < kScanBlock; ++i)
        any |= static_cast<Byte>(hit(block[i]));
    return any != 0;
}

// The index of the first hit, or `count` when nothing is hit.
template <class Hit> std::int32_t FindFirstHit(const Byte* buffer, std::int32_t count, Hit hit) {
    std::int32_t i = 0;
    while (count - i >= kScanBlock && !BlockHasHit(buffer + i, hit))
        i += kScanBlock;
    while (i < count && !hit(buffer[i]))
        ++i;
    return i;
}

// The index of the last hit, given that `first` is a hit.
template <class Hit>
std::int32_t FindLastHit(const Byte* buffer, std::int32_t count, std::int32_t first, Hit hit) {
    std::int32_t end = count;
    while (end - first >= kScanBlock && !BlockHasHit(buffer + end - kScanBlock, hit))
        end -= kScanBlock;
    std::int32_t i = end - 1;
    while (!hit(buffer[i]))
        --i;
    return i;
}

// Between the first and the last hit, hits are counted in a byte per block:
// the block is short enough that the count cannot wrap, and a multiple of
// every vector width.
constexpr std::int32_t kCountBlock = 192;

template <class Hit, class Replace>
Byte CountAndReplace(Byte* buffer, std::int32_t from, std::int32_t count, Hit hit,
                     Replace replace) {
    Byte hits = 0;
    for (std::int32_t i = from; i < from + count; ++i) {
        const Byte b = buffer[i];
        const bool isHit = hit(b);
        hits += isHit;
        // Taken for every byte and kept by a mask, not a branch, so that a
        // replacement in floating point (which could trap) vectorizes too.
        const auto mask = static_cast<Byte>(-static_cast<std::int32_t>(isHit));
        buffer[i] = static_cast<Byte>((replace(b, i) & mask) | (b & ~mask));
    }
    return hits;
}

// Inlined, so that it is built for each version of Apply.
template <class Hit, InTwoLoops Replace>
[[gnu::always_inline]] inline Byte CountAndReplace(Byte* buffer, std::int32_t from,
                                                   std::int32_t count, Hit hit, Replace replace) {
    typename Replace::Stored draws[kCountBlock];
    replace.Draws(draws, from, count);
    Byte* block = buffer + from;
    Byte hits = 0;
    for (std::int32_t j = 0; j < count; ++j) {
        const Byte b = block[j];
        const bool isHit = hit(b);
        hits += isHit;
        // As above.
        const auto mask = static_cast<Byte>(-static_cast<std::int32_t>(isHit));
        block[j] = static_cast<Byte>((replace.Step(b, draws, j) & mask) | (b & ~mask));
    }
    return hits;
}

template <class Hit, class Replace>
GLITCHWERK_VECTOR_CLONES std::int32_t Apply(Byte* buffer, std::int32_t count, Hit hit,
                                            Replace replace, std::int32_t& firstIndex,
                                            std::int32_t& lastIndex) {
    const std::int32_t first = FindFirstHit(buffer, count, hit);
    if (first == count)
        return 0;
    const std::int32_t last = FindLastHit(buffer, count, first, hit);
    std::int32_t hits = 0;
    std::int32_t i = first;
    for (; last + 1 - i >= kCountBlock; i += kCountBlock)
        hits += CountAndReplace(buffer, i, kCountBlock, hit, replace);
    hits += CountAndReplace(buffer, i, last + 1 - i, hit, replace);
    firstIndex = first;
    lastIndex = last;
    return hits;
}

constexpr std::int32_t kTwoLoopsBlock = 1024;

// Every byte is hit: no scans, no count.
template <class Replace>
GLITCHWERK_VECTOR_CLONES std::int32_t ReplaceAll(Byte* buffer, std::int32_t count, Replace replace,
                                                 std::int32_t& firstIndex,
                                                 std::int32_t& lastIndex) {
    if constexpr (requires { replace.ReplaceAll(buffer, count); }) {
        replace.ReplaceAll(buffer, count);
    } else if constexpr (InTwoLoops<Replace>) {
        typename Replace::Stored draws[kTwoLoopsBlock];
        for (std::int32_t from = 0; from < count; from += kTwoLoopsBlock) {
            const std::int32_t size = std::min(kTwoLoopsBlock, count - from);
            replace.Draws(draws, from, size);
            Byte* block = buffer + from;
            for (std::int32_t j = 0; j < size; ++j)
                block[j] = replace.Step(block[j], draws, j);
        }
    } else {
        for (std::int32_t i = 0; i < count; ++i)
            buffer[i] = replace(buffer[i], i);
    }
    firstIndex = 0;
    lastIndex = count - 1;
    return count;
}

// The rules that draw take the path without scans when every byte is hit:
// the draw costs far more than the search would save.
template <class Hit, class Replace>
std::int32_t ApplyDrawn(Byte* buffer, std::int32_t count, Hit hit, Replace replace,
                        std::int32_t& firstIndex, std::int32_t& lastIndex) {
    if constexpr (std::is_same_v<Hit, IsAny>)
        return ReplaceAll(buffer, count, replace, firstIndex, lastIndex);
    else
        return Apply(buffer, count, hit, replace, firstIndex, lastIndex);
}

template <class Hit>
std::int32_t ApplyWithSearch(Byte* buffer, std::int32_t count, Hit hit, const ByteRule& rule,
                             RandomStream draws, std::int32_t& firstIndex,
                             std::int32_t& lastIndex) {
    switch (rule.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        return Apply(buffer, count, hit, SetTo{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceIncreaseBy:
        return Apply(buffer, count, hit, IncreaseBy{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceDecreaseBy:
        return Apply(buffer, count, hit, DecreaseBy{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceRandomByte:
        return ApplyDrawn(buffer, count, hit, DrawsFrom(draws), firstIndex, lastIndex);
    case ReplaceMode::ReplaceXor:
        return Apply(buffer, count, hit, XorWith{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceRotateLeft:
        return Apply(buffer, count, hit, RotateLeftBy{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceFlipBit:
        return ApplyDrawn(buffer, count, hit, FlipBitAt{DrawsFrom(draws)}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceTilt:
        if (rule.replaceValue == 0) // no step: hit, unchanged
            return Apply(buffer, count, hit, XorWith{0}, firstIndex, lastIndex);
        return ApplyDrawn(buffer, count, hit, TiltAt{DrawsFrom(draws), 2u * rule.replaceValue + 1u},
                          firstIndex, lastIndex);
    }
    return 0;
}

// Calls `apply` with the rule's search half; an empty byte range is none.
template <class Apply> std::int32_t WithSearch(const ByteRule& rule, Apply apply) {
    switch (rule.searchMode) {
    case SearchMode::SearchSpecificByte:
        return apply(IsSpecific{rule.searchValue});
    case SearchMode::SearchByteRange:
        if (rule.searchValue >= rule.searchHigh)
            return 0;
        return apply(
            IsInRange{rule.searchValue, static_cast<Byte>(rule.searchHigh - rule.searchValue)});
    case SearchMode::SearchAllBytes:
        return apply(IsAny{});
    }
    return 0;
}

// Branch-free: every index is written, and kept only when it matches.
template <class Hit>
GLITCHWERK_VECTOR_CLONES std::int32_t CollectMatches(const Byte* buffer, std::int32_t count,
                                                     Hit hit, std::int32_t* matches) {
    std::int32_t found = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        matches[found] = i;
        found += hit(buffer[i]);
    }
    return found;
}

} // namespace

std::uint32_t ParseHexField(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        value <<= 4;
        const std::int32_t digit = HexDigitValue(c);
        if (digit < 0)
            value >>= 4;
        else
            value += static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::uint8_t ClampByte(std::int32_t value) {
    if (value > 255)
        return 255;
    if (value < 0)
        return 0;
    return static_cast<std::uint8_t>(value);
}

std::int32_t ApplyByteRule(std::uint8_t* buffer, std::int32_t count, ByteRule rule,
                           RandomStream draws, std::int32_t& firstIndex, std::int32_t& lastIndex) {
    if (count <= 0)
        return 0;
    return WithSearch(rule, [&](auto hit) {
        return ApplyWithSearch(buffer, count, hit, rule, draws, firstIndex, lastIndex);
    });
}

std::int32_t FindMatches(const std::uint8_t* buffer, std::int32_t count, const ByteRule& rule,
                         std::int32_t* matches) {
    if (count <= 0)
        return 0;
    return WithSearch(rule, [&](auto hit) { return CollectMatches(buffer, count, hit, matches); });
}

std::uint8_t ReplacedByte(std::uint8_t b, const ByteRule& rule, RandomStream at) {
    switch (rule.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        return SetTo{rule.replaceValue}(b, 0);
    case ReplaceMode::ReplaceIncreaseBy:
        return IncreaseBy{rule.replaceValue}(b, 0);
    case ReplaceMode::ReplaceDecreaseBy:
        return DecreaseBy{rule.replaceValue}(b, 0);
    case ReplaceMode::ReplaceRandomByte:
        return DrawsFrom(at)(b, 0);
    case ReplaceMode::ReplaceXor:
        return XorWith{rule.replaceValue}(b, 0);
    case ReplaceMode::ReplaceRotateLeft:
        return RotateLeftBy{rule.replaceValue}(b, 0);
    case ReplaceMode::ReplaceFlipBit:
        return ReplaceOne(FlipBitAt{DrawsFrom(at)}, b);
    case ReplaceMode::ReplaceTilt:
        return rule.replaceValue == 0
                   ? b
                   : ReplaceOne(TiltAt{DrawsFrom(at), 2u * rule.replaceValue + 1u}, b);
    }
    return b;
}

std::uint32_t DrawValue(RandomStream at) {
    return DrawsFrom(at).Value(0);
}

GLITCHWERK_VECTOR_CLONES void DrawValues(RandomStream first, std::uint32_t* values,
                                         std::int32_t count) {
    const RandomAt draws = DrawsFrom(first);
    for (std::int32_t i = 0; i < count; ++i)
        values[i] = draws.Value(i);
}

std::uint64_t PickKey(std::uint32_t seed, std::uint64_t firstDraw, std::uint64_t offset) {
    return Mix64(StepKey(seed, firstDraw) + offset * kGolden64);
}

GLITCHWERK_VECTOR_CLONES std::int32_t PickKeysAtMost(std::uint32_t seed, std::uint64_t firstDraw,
                                                     std::uint64_t windowOffset,
                                                     const std::int32_t* matches,
                                                     std::int32_t count, std::uint64_t bound,
                                                     std::uint64_t* keys, std::int32_t* found) {
    // Where every byte counts, a group of keys at a time in vector lanes,
    // their products stepped by addition. The key's last step, x ^= x >> 31,
    // keeps its top 33 bits: the keys before it, tested against the bound
    // with its low 33 bits set, tell whether any key of the group can be at
    // most the bound, and only then is the step taken and each key
    // tested. Bounds lie far below 2^64, so that is rarely so.
    constexpr std::int32_t kVectors = 8;
    constexpr std::int32_t kGroup = kVectors * kKeyLanes;
    const std::uint64_t key = StepKey(seed, firstDraw);
    const std::uint64_t loose = bound | ((std::uint64_t{1} << 33) - 1);
    const KeyQuarter looseFlipped =
        KeyQuarter{} + static_cast<std::int64_t>(loose ^ (std::uint64_t{1} << 63));
    KeyLanes at = key + windowOffset * kGolden64 + KeyLanes{0, 1, 2, 3, 4, 5, 6, 7} * kGolden64;
    std::int32_t total = 0;
    std::int32_t from = 0;
    for (; !matches && count - from >= kGroup; from += kGroup) {
        std::array<KeyLanes, kVectors> lanes;
        for (std::int32_t v = 0; v < kVectors; ++v) {
            lanes[v] = at + static_cast<std::uint64_t>(v * kKeyLanes) * kGolden64;
            MixUnfinishedInPlace(lanes[v]);
        }
        // A key at most the bound leaves a lane of `above` 0.
        KeyQuarter above = KeyQuarter{} - 1;
        for (std::int32_t v = 0; v < kVectors; ++v)
            KeepAbove(lanes[v], looseFlipped, above);
        bool any = false;
        for (std::int32_t i = 0; i < 4; ++i)
            any |= above[i] == 0;
        if (any) [[unlikely]] {
            for (std::int32_t v = 0; v < kVectors; ++v) {
                KeyLanes keyed = at + static_cast<std::uint64_t>(v * kKeyLanes) * kGolden64;
                MixInPlace(keyed);
                for (std::int32_t i = 0; i < kKeyLanes; ++i) {
                    keys[total] = keyed[i];
                    found[total] = from + v * kKeyLanes + i;
                    total += keyed[i] <= bound;
                }
            }
        }
        at += kGroup * kGolden64;
    }
    for (; from < count; ++from) {
        const auto offset = static_cast<std::uint64_t>(matches ? matches[from] : from);
        keys[total] = Mix64(key + (windowOffset + offset) * kGolden64);
        found[total] = from;
        total += keys[total] <= bound;
    }
    return total;
}

} // namespace glitchwerk
