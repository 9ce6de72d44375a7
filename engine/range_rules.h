// SPDX-License-Identifier: MIT
#pragma once
// The rules over a range as a whole, on bytes in memory: `from` holds the
// bytes as they were before the step, `to` receives the new ones (the two
// never overlap). Blocks are counted from the first byte of `from`.

#include "engine/byte_rules.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glitchwerk {

// Each block of `block` bytes of the `count` reversed, a shorter last one too,
// into `to`, which does not overlap `from`.
void ReverseBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                   std::size_t block);

// Blocks 2j and 2j+1 swapped; a block without a whole partner, and a shorter
// last one, stay.
void SwapBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t count, std::size_t block);

// The first `count` of the `available` bytes of `from`, each replaced by the
// mean (rounded down) of it and the next `block` - 1, fewer where `from` ends.
// `block` is 1 to 65536.
void SmoothBytes(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                 std::size_t available, std::size_t block);

// The quotients of numbers below 65408 by a block of 3 to 16384 that is no
// power of two, s = floor(log2 block): the high half of their product with
// m = 2^(16 + s) / block rounded up, shifted by s, where m * block is at most
// 2^s above 2^(16 + s); else with m rounded down, of the numbers plus 1.
struct LaneDivisor {
    std::uint16_t magic = 0;
    std::uint16_t increment = 0;
    int shift = 0;
    explicit LaneDivisor(std::uint32_t block);
    // Of a number with its increment already added.
    std::uint16_t Quotient(std::uint16_t lifted) const {
        return static_cast<std::uint16_t>(High(lifted) >> shift);
    }
    std::uint16_t High(std::uint16_t lifted) const {
        return static_cast<std::uint16_t>((std::uint32_t{lifted} * magic) >> 16);
    }
};

// A shuffle of `blocks` blocks by the stream from `first`: position p takes the
// block order[p]. For i = 0 to blocks - 2, position blocks - 1 - i swaps with
// position v(first + i) mod (blocks - i).
std::vector<std::uint32_t> ShuffledBlocks(std::uint32_t blocks, RandomStream first);

// Position p of `to` takes the block order[p] of `from`, for ShuffledBlocks'
// order of `blocks` blocks of `block` bytes.
void ShuffleBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t block,
                   std::uint32_t blocks, RandomStream first);

} // namespace glitchwerk
