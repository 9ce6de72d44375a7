// SPDX-License-Identifier: MIT
#pragma once
// Byte rules: reading hexadecimal entry fields, and applying one corruption
// rule (which bytes to hit, what a hit byte becomes) to a window in memory.

#include <cstdint>
#include <string_view>

namespace glitchwerk {

// Which bytes a rule hits. The codes are also the index of the radio button
// in the dialog's "Search For:" group.
enum class SearchMode : std::int32_t {
    SearchSpecificByte = 0, // b == searchValue
    SearchByteRange = 1,    // searchValue <= b < searchHigh (upper bound exclusive)
    SearchAllBytes = 2,     // every byte
};

// What a hit byte becomes; also the radio button index in "Replace With:".
enum class ReplaceMode : std::int32_t {
    ReplaceSpecificByte = 0, // replaceValue
    ReplaceIncreaseBy = 1,   // b + replaceValue, saturating at 0xFF
    ReplaceDecreaseBy = 2,   // b - replaceValue, saturating at 0x00
    ReplaceRandomByte = 3,   // one random draw per hit byte, modulo 256
};

struct ByteRule {
    SearchMode searchMode;
    std::uint8_t searchValue; // the byte to find, or the inclusive low bound
    std::uint8_t searchHigh;  // the exclusive high bound of a byte range
    ReplaceMode replaceMode;
    std::uint8_t replaceValue; // the new byte, or the step
};

// Reads an entry field as hexadecimal: each character shifts the value left by
// four bits and adds its digit; a character that is not a hex digit shifts it
// back right by four bits. Bits shifted past 32 are lost.
std::uint32_t ParseHexField(std::string_view text);

// Saturates a signed value to 0..255.
std::uint8_t ClampByte(std::int32_t value);

// Applies `rule` to `count` bytes of `buffer` in place and returns the number
// of hit bytes. `firstIndex` and `lastIndex` receive the index of the first and
// last hit byte, and are left untouched when nothing is hit.
std::int32_t ApplyByteRule(std::uint8_t* buffer, std::int32_t count, ByteRule rule,
                           std::int32_t& firstIndex, std::int32_t& lastIndex);

// Seeds the generator behind ReplaceRandomByte. Its stream is keyed by
// position: in a call with random replacement, byte i of the buffer takes
// draw c + i when it is hit, and c then grows by the count, hit or not. The
// same seed and the same calls give the same bytes.
void SeedRandomGenerator(std::uint32_t seed);

} // namespace glitchwerk
