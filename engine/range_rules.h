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

// Each block of `block` bytes of the `count` reversed, a shorter last one too.
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

// A shuffle of `blocks` blocks by the stream from `first`: position p takes the
// block order[p]. For i = 0 to blocks - 2, position blocks - 1 - i swaps with
// position v(first + i) mod (blocks - i).
std::vector<std::uint32_t> ShuffledBlocks(std::uint32_t blocks, RandomStream first);

// Position p of `to` takes the block order[p] of `from`, for ShuffledBlocks'
// order of `blocks` blocks of `block` bytes.
void ShuffleBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t block,
                   std::uint32_t blocks, RandomStream first);

} // namespace glitchwerk
