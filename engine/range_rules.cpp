// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

// As in byte_rules.cpp: plain loops that the compiler vectorizes, on GCC for
// x86-64 also built for AVX2 and AVX-512 and chosen when the program loads.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define GLITCHWERK_VECTOR_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define GLITCHWERK_VECTOR_CLONES
#endif

namespace glitchwerk {
namespace {

using Byte = std::uint8_t;

// A smoothed byte is a sum of `block` bytes divided by `block`. Sums are
// carried for kLanes neighbouring bytes at once, and move on by kLanes bytes
// at a time: W(p + kLanes) = W(p) + E(p), where E(p) is the sum of
// from[q + block] - from[q] over q = p ... p + kLanes - 1, built for a chunk of
// positions by doubling (pairs, fours, ...). Every loop is then a plain
// vector loop; a running sum byte by byte would wait on each addition.
constexpr std::size_t kLanes = 32;
constexpr std::size_t kChunk = 1024;

// Sums of `width` neighbours: into[q] = from[q] + from[q + width], q < count.
template <std::size_t width>
void Pairs(const std::int16_t* from, std::int16_t* into, std::size_t count) {
    for (std::size_t q = 0; q < count; ++q)
        into[q] = static_cast<std::int16_t>(from[q] + from[q + width]);
}

// E over [0, count) for the bytes at `from`, which reach block + count +
// kLanes - 2 bytes further.
GLITCHWERK_VECTOR_CLONES void SumSteps(const Byte* from, std::size_t count, std::size_t block,
                                       std::int16_t* steps) {
    // Differences of at most 255 summed over 32 stay within 16 bits. Each
    // element is written before it is read.
    std::array<std::int16_t, kChunk + kLanes> a;
    std::array<std::int16_t, kChunk + kLanes> b;
    const std::size_t n = count + kLanes - 1;
    for (std::size_t q = 0; q < n; ++q)
        a[q] = static_cast<std::int16_t>(from[q + block] - from[q]);
    Pairs<1>(a.data(), b.data(), n - 1);
    Pairs<2>(b.data(), a.data(), n - 3);
    Pairs<4>(a.data(), b.data(), n - 7);
    Pairs<8>(b.data(), a.data(), n - 15);
    Pairs<16>(a.data(), steps, count);
}

// The bytes whose `block` bytes are all there: `full` of them, `from` holding
// full + block - 1. Sum is 16 bits wide where 255 * block fits.
template <class Sum>
GLITCHWERK_VECTOR_CLONES void SmoothWhole(const Byte* from, Byte* to, std::size_t full,
                                          std::size_t block) {
    const Divisor<Sum> divisor(static_cast<Sum>(block));
    Sum first = 0;
    for (std::size_t q = 0; q < block; ++q)
        first = static_cast<Sum>(first + from[q]);
    // The vector part: outputs [0, vectored), its last move lands below `full`.
    const std::size_t vectored = full >= 2 * kLanes ? (full - kLanes) / kLanes * kLanes : 0;
    std::array<Sum, kLanes> sums{};
    sums[0] = first;
    for (std::size_t j = 1; j < kLanes && vectored > 0; ++j)
        sums[j] = static_cast<Sum>(sums[j - 1] + from[j - 1 + block] - from[j - 1]);
    std::array<std::int16_t, kChunk> steps{};
    for (std::size_t chunk = 0; chunk < vectored; chunk += kChunk) {
        const std::size_t count = std::min(kChunk, vectored - chunk);
        SumSteps(from + chunk, count, block, steps.data());
        for (std::size_t p = 0; p < count; p += kLanes) {
            for (std::size_t j = 0; j < kLanes; ++j) {
                to[chunk + p + j] = static_cast<Byte>(divisor.Quotient(sums[j]));
                sums[j] = static_cast<Sum>(sums[j] + steps[p + j]);
            }
        }
    }
    Sum sum = vectored > 0 ? sums[0] : first;
    for (std::size_t p = vectored; p < full; ++p) {
        to[p] = static_cast<Byte>(divisor.Quotient(sum));
        if (p + 1 < full)
            sum = static_cast<Sum>(sum + from[p + block] - from[p]);
    }
}

// picks[i] mod (blocks - i), by a division in double precision, which
// vectorizes and is exact here: the quotient's error is below 1 / (blocks - i).
GLITCHWERK_VECTOR_CLONES void Remainders(std::uint32_t* picks, std::uint32_t blocks) {
    for (std::uint32_t i = 0; i < blocks - 1; ++i) {
        const std::uint32_t left = blocks - i;
        const auto quotient =
            static_cast<std::uint32_t>(static_cast<double>(picks[i]) / static_cast<double>(left));
        picks[i] -= quotient * left;
    }
}

// A block copied in pieces of 32 bytes where it is made of them: a call of
// memcpy for each small block costs more than its bytes.
void CopyBlock(const Byte* from, Byte* to, std::size_t size) {
    constexpr std::size_t kPiece = 32;
    if (size % kPiece != 0) {
        std::memcpy(to, from, size);
        return;
    }
    for (std::size_t at = 0; at < size; at += kPiece)
        std::memcpy(to + at, from + at, kPiece);
}

// The last bytes, each the mean of those from it to the end of `available`:
// sums first, then the divisions in a vector loop, in double precision, which
// is exact for sums below 2^24.
GLITCHWERK_VECTOR_CLONES void SmoothEnd(const Byte* from, Byte* to, std::size_t count,
                                        std::size_t available) {
    std::vector<std::uint32_t> sums(count);
    std::uint32_t sum = 0;
    for (std::size_t p = available; p-- > 0;) {
        sum += from[p];
        if (p < count)
            sums[p] = sum;
    }
    for (std::size_t p = 0; p < count; ++p)
        to[p] =
            static_cast<Byte>(static_cast<double>(sums[p]) / static_cast<double>(available - p));
}

} // namespace

GLITCHWERK_VECTOR_CLONES void ReverseBlocks(const std::uint8_t* from, std::uint8_t* to,
                                            std::size_t count, std::size_t block) {
    for (std::size_t start = 0; start < count; start += block) {
        const std::size_t size = std::min(block, count - start);
        const Byte* last = from + start + size - 1;
        for (std::size_t i = 0; i < size; ++i)
            to[start + i] = *(last - i);
    }
}

void SwapBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t count, std::size_t block) {
    std::size_t start = 0;
    for (; count - start >= 2 * block; start += 2 * block) {
        CopyBlock(from + start + block, to + start, block);
        CopyBlock(from + start, to + start + block, block);
    }
    std::memcpy(to + start, from + start, count - start);
}

void SmoothBytes(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                 std::size_t available, std::size_t block) {
    if (block <= 1) {
        std::memcpy(to, from, count);
        return;
    }
    const std::size_t full = available >= block ? std::min(count, available - block + 1) : 0;
    if (block <= 257)
        SmoothWhole<std::uint16_t>(from, to, full, block);
    else
        SmoothWhole<std::uint32_t>(from, to, full, block);
    // Near the end, fewer bytes: sums from the end backwards.
    if (full < count)
        SmoothEnd(from + full, to + full, count - full, available - full);
}

std::vector<std::uint32_t> ShuffledBlocks(std::uint32_t blocks, RandomStream first) {
    std::vector<std::uint32_t> order(blocks);
    std::iota(order.begin(), order.end(), 0u);
    if (blocks < 2)
        return order;
    std::vector<std::uint32_t> picks(blocks - 1);
    DrawValues(first, picks.data(), static_cast<std::int32_t>(picks.size()));
    Remainders(picks.data(), blocks);
    for (std::uint32_t i = 0; i < blocks - 1; ++i)
        std::swap(order[blocks - 1 - i], order[picks[i]]);
    return order;
}

void ShuffleBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t block,
                   const std::vector<std::uint32_t>& order) {
    for (std::size_t p = 0; p < order.size(); ++p)
        CopyBlock(from + std::size_t{order[p]} * block, to + p * block, block);
}

} // namespace glitchwerk
