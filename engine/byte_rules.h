// SPDX-License-Identifier: MIT
#pragma once
// Byte rules: reading hexadecimal entry fields, and applying one corruption
// rule (which bytes to hit, what a hit byte becomes) to a window in memory.

#include <bit>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace glitchwerk {

// Which bytes a rule hits. The codes are also the index of the radio button
// in the dialog's "Search For:" group.
enum class SearchMode : std::int32_t {
    SearchSpecificByte = 0, // b == searchValue
    SearchByteRange = 1,    // searchValue <= b < searchHigh (upper bound exclusive)
    SearchAllBytes = 2,     // every byte
};

// What a hit byte becomes; also the radio button index in "Replace With:".
// The dialog's buttons give the first four; the panel and glitchwerk-cli the
// rest too. v is the 32-bit value of the byte's draw (DrawValue).
enum class ReplaceMode : std::int32_t {
    ReplaceSpecificByte = 0, // replaceValue
    ReplaceIncreaseBy = 1,   // b + replaceValue, saturating at 0xFF
    ReplaceDecreaseBy = 2,   // b - replaceValue, saturating at 0x00
    ReplaceRandomByte = 3,   // one random draw per hit byte: the low byte of v
    ReplaceXor = 4,          // b XOR replaceValue
    ReplaceFlipBit = 5,      // b XOR (1 << (v mod 8))
    ReplaceRotateLeft = 6,   // b's bits rotated left by replaceValue (1 to 7)
    ReplaceTilt = 7,         // b + (v mod (2N + 1)) - N, N = replaceValue (1 to FF), saturating
};

// The rules that take a draw per byte (and so move the stream on).
constexpr bool DrawsPerByte(ReplaceMode mode) {
    return mode == ReplaceMode::ReplaceRandomByte || mode == ReplaceMode::ReplaceFlipBit ||
           mode == ReplaceMode::ReplaceTilt;
}

struct ByteRule {
    SearchMode searchMode;
    std::uint8_t searchValue; // the byte to find, or the inclusive low bound
    std::uint8_t searchHigh;  // the exclusive high bound of a byte range
    ReplaceMode replaceMode;
    std::uint8_t replaceValue; // the new byte, the step, the mask or the count
    bool operator==(const ByteRule&) const = default;
};

// Reads an entry field as hexadecimal: each character shifts the value left by
// four bits and adds its digit; a character that is not a hex digit shifts it
// back right by four bits. Bits shifted past 32 are lost.
std::uint32_t ParseHexField(std::string_view text);

// Saturates a signed value to 0..255.
std::uint8_t ClampByte(std::int32_t value);

// The random stream behind ReplaceRandomByte, as a value: draw n of a seed is
// a hash of the seed and n (taken modulo 2^32). A run starts it at {seed, 0}
// (or where a recipe says) and each step moves `draw` on; the same seed and
// draws give the same bytes everywhere.
struct RandomStream {
    std::uint32_t seed = 0;
    std::uint64_t draw = 0; // the draw the next byte of a call takes
};

// The 32-bit value of draw `at.draw` of the stream of `at.seed`.
std::uint32_t DrawValue(RandomStream at);

// DrawValue of draws `first.draw` + i for i below `count`, written to `values`.
void DrawValues(RandomStream first, std::uint32_t* values, std::int32_t count);

// Exact unsigned division by a divisor known only at run time, as a multiply
// and shifts that vectorize (x86 has no vector division): the round-up method
// of Granlund and Montgomery, with a multiplier of one bit more than `Word`.
template <class Word> struct Divisor {
    static_assert(std::is_same_v<Word, std::uint16_t> || std::is_same_v<Word, std::uint32_t>);
    static constexpr int kBits = 8 * sizeof(Word);
    Word magic = 0;
    Word shift = 0;

    // 2 <= d < 2^(kBits - 1).
    constexpr explicit Divisor(Word d) {
        const int log = std::bit_width(d) - 1;
        if (std::has_single_bit(d)) {
            shift = static_cast<Word>(log - 1);
        } else { // ceil(2^(kBits + 1 + log) / d), less its top bit 2^kBits
            const std::uint64_t m = (std::uint64_t{1} << (kBits + 1 + log)) / d + 1;
            magic = static_cast<Word>(m);
            shift = static_cast<Word>(log);
        }
    }
    // Each step narrowed to `Word`, so that vectors keep lanes of its width.
    constexpr Word Quotient(Word n) const {
        using Wide = std::conditional_t<kBits == 16, std::uint32_t, std::uint64_t>;
        const auto high = static_cast<Word>((Wide{n} * magic) >> kBits);
        const auto half = static_cast<Word>(static_cast<Word>(n - high) >> 1);
        return static_cast<Word>(static_cast<Word>(half + high) >> shift);
    }
};

// The remainder of a 32-bit v by a divisor d below 512, exactly, by
// multiplications that vectorize, the last on 16-bit lanes. With C0 =
// ceil(2^32 / d) and C1 = ceil(2^48 / d), v = h * 2^16 + l gives h * C1 +
// l * C0 = 2^32 * v / d + e, 0 <= e < 2^17, so that its low 32 bits L are
// 2^32 * (v mod d) / d + e; h * C1 is v * C0 - h * K, with K = 2^16 * C0 - C1.
// The high half of L, plus 1, is then 2^16 * (v mod d) / d plus more than 0
// and less than 3, and that times d is 2^16 * (v mod d) plus less than
// 3 * 511: v mod d is the high half of this product of 16-bit values.
struct SmallDivisor {
    std::uint16_t d; // 16 bits, so that the last product takes 16-bit lanes
    std::uint32_t c0 = static_cast<std::uint32_t>(0xFFFFFFFFU / d + 1);
    std::uint32_t k = static_cast<std::uint32_t>((std::uint64_t{c0} << 16) -
                                                 ((std::uint64_t{1} << 48) - 1) / d - 1);

    // 2 <= d < 512.
    constexpr explicit SmallDivisor(std::uint32_t divisor)
        : d(static_cast<std::uint16_t>(divisor)) {}
    // v becomes L, on 32-bit lanes (a value or a vector of them); `high` is
    // v >> 16.
    template <class Word> constexpr void Fraction(Word& v, const Word& high) const {
        v = v * c0 - high * k;
    }
    // v mod d from the high half of L, on 16-bit lanes.
    constexpr std::uint16_t Remainder(std::uint16_t fractionHigh) const {
        const auto f = static_cast<std::uint16_t>(fractionHigh + 1);
        return static_cast<std::uint16_t>((std::uint32_t{f} * d) >> 16);
    }
    // (v mod d) + offset.
    constexpr std::int32_t Remainder(std::uint32_t v, std::uint32_t high,
                                     std::int32_t offset = 0) const {
        Fraction(v, high);
        return Remainder(static_cast<std::uint16_t>(v >> 16)) + offset;
    }
    constexpr std::uint32_t Remainder(std::uint32_t v) const {
        return static_cast<std::uint32_t>(Remainder(v, v >> 16));
    }
};

// Applies `rule` to `count` bytes of `buffer` in place and returns the number
// of hit bytes. A hit byte i takes draw `draws.draw + i` of the stream's seed
// when the rule is random; nothing moves the stream. `firstIndex` and
// `lastIndex` receive the index of the first and last hit byte, and are left
// untouched when nothing is hit.
std::int32_t ApplyByteRule(std::uint8_t* buffer, std::int32_t count, ByteRule rule,
                           RandomStream draws, std::int32_t& firstIndex, std::int32_t& lastIndex);

// For the sparse spreads: the indices of the `count` bytes of `buffer` that
// `rule` searches for, in order, written to `matches` (room for `count`);
// returns how many there are.
std::int32_t FindMatches(const std::uint8_t* buffer, std::int32_t count, const ByteRule& rule,
                         std::int32_t* matches);

// What the hit byte `b` becomes, taking draw `at.draw` when the rule is random.
std::uint8_t ReplacedByte(std::uint8_t b, const ByteRule& rule, RandomStream at);

// The key that orders matching bytes for a pick: a keyed 64-bit hash of the
// seed, the step's first draw and the byte's file offset. Frozen: recipes
// that pick bytes replay by it.
std::uint64_t PickKey(std::uint32_t seed, std::uint64_t firstDraw, std::uint64_t offset);

// PickKey of the bytes at `windowOffset` + matches[i] for i below `count`
// (at `windowOffset` + i without `matches`): the indices i of those at most
// `bound`, in order, written to `found` and their keys to `keys` at the same
// places (room for `count` in both). Returns how many were found.
std::int32_t PickKeysAtMost(std::uint32_t seed, std::uint64_t firstDraw, std::uint64_t windowOffset,
                            const std::int32_t* matches, std::int32_t count, std::uint64_t bound,
                            std::uint64_t* keys, std::int32_t* found);

} // namespace glitchwerk
