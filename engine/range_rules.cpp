// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"
#include "engine/vector_clones.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <utility>

// As in byte_rules.cpp: plain loops that the compiler vectorizes, on GCC for
// x86-64 also built for AVX2 and AVX-512 and chosen when the program loads.
namespace glitchwerk {
namespace {

using Byte = std::uint8_t;

// A smoothed byte is a sum of `block` bytes divided by `block`: the
// difference of two prefix sums, taken modulo 2^16 where 255 * block fits and
// modulo 2^32 above. The prefix sums are made 64 bytes at a time in vector
// registers; a running sum byte by byte would wait on each addition.
using Halves = std::uint16_t __attribute__((vector_size(64)));
using Wide = std::uint32_t __attribute__((vector_size(128)));

// into[i] += v[i - shift] for every lane i >= shift.
template <std::size_t shift, class Vector, std::size_t... lane>
void AddMovedUp(Vector& into, const Vector& v, std::index_sequence<lane...>) {
    constexpr std::size_t kLanes = sizeof...(lane);
    into += __builtin_shufflevector(Vector{}, v, (lane >= shift ? kLanes + lane - shift : 0)...);
}

// The prefix sums of the 32 lanes: within each 4 lanes by shifts of 64-bit
// words, then each 4 lanes' total carried into the lanes above by moving the
// totals up by 1, 2 and 4 words.
using Words = std::uint64_t __attribute__((vector_size(64)));
template <std::size_t shift, std::size_t... word>
[[gnu::always_inline]] inline void AddWordsMovedUp(Halves& into, const Halves& v,
                                                   std::index_sequence<word...>) {
    into += reinterpret_cast<Halves>(__builtin_shufflevector(
        Words{}, reinterpret_cast<Words>(v), (word >= shift ? 8 + word - shift : 0)...));
}
[[gnu::always_inline]] inline void PrefixSumsOfLanes(Halves& v) {
    constexpr auto kEach = std::make_index_sequence<8>{};
    v += reinterpret_cast<Halves>(reinterpret_cast<Words>(v) << 16);
    v += reinterpret_cast<Halves>(reinterpret_cast<Words>(v) << 32);
    Halves totals =
        reinterpret_cast<Halves>((reinterpret_cast<Words>(v) >> 48) * 0x0001000100010001);
    AddWordsMovedUp<1>(totals, totals, kEach);
    AddWordsMovedUp<2>(totals, totals, kEach);
    AddWordsMovedUp<4>(totals, totals, kEach);
    AddWordsMovedUp<1>(v, totals, kEach);
}

// The sums of the 64 bytes at `from` up to each: first[i] of bytes 0 to i,
// second[i] of bytes 0 to 32 + i. On a little-endian machine the bytes are
// 32 lanes of pairs: the pairs' sums first, their prefix sums (the sums up to
// each odd byte) by adding them to themselves moved up by 1, 2, 4, 8 and 16
// lanes, and the sums up to the even bytes from those.
[[gnu::always_inline]] inline void SumsOf64(const Byte* from, Halves& first, Halves& second) {
    constexpr auto kEach = std::make_index_sequence<32>{};
    Halves pairs;
    std::memcpy(&pairs, from, sizeof pairs);
    const Halves even = pairs & 0xFF;
    Halves odd = even + (pairs >> 8);
    AddMovedUp<1>(odd, odd, kEach);
    AddMovedUp<2>(odd, odd, kEach);
    AddMovedUp<4>(odd, odd, kEach);
    AddMovedUp<8>(odd, odd, kEach);
    AddMovedUp<16>(odd, odd, kEach);
    Halves evens = even;
    AddMovedUp<1>(evens, odd, kEach);
    first =
        __builtin_shufflevector(evens, odd, 0, 32, 1, 33, 2, 34, 3, 35, 4, 36, 5, 37, 6, 38, 7, 39,
                                8, 40, 9, 41, 10, 42, 11, 43, 12, 44, 13, 45, 14, 46, 15, 47);
    second = __builtin_shufflevector(evens, odd, 16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21, 53, 22,
                                     54, 23, 55, 24, 56, 25, 57, 26, 58, 27, 59, 28, 60, 29, 61, 30,
                                     62, 31, 63);
}

// sums[q] = from[0] + ... + from[q - 1] for q <= count, modulo 2^bits of Sum.
// The running sum stays in a vector, so that it waits on one addition for 64
// bytes.
template <class Sum>
GLITCHWERK_VECTOR_CLONES void PrefixSums(const Byte* from, std::size_t count, Sum* sums) {
    constexpr bool kNarrow = std::is_same_v<Sum, std::uint16_t>;
    std::conditional_t<kNarrow, Halves, Wide> carry{};
    sums[0] = 0;
    std::size_t q = 0;
    for (; std::endian::native == std::endian::little && q + 64 <= count; q += 64) {
        Halves first;
        Halves second;
        SumsOf64(from + q, first, second);
        const Halves total = __builtin_shufflevector(
            second, second, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31,
            31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31);
        if constexpr (kNarrow) {
            first += carry;
            second += carry;
            carry += total;
            std::memcpy(sums + q + 1, &first, sizeof first);
            std::memcpy(sums + q + 33, &second, sizeof second);
        } else {
            const Wide parts[] = {__builtin_convertvector(first, Wide) + carry,
                                  __builtin_convertvector(second, Wide) + carry};
            carry += __builtin_convertvector(total, Wide);
            std::memcpy(sums + q + 1, parts, sizeof parts);
        }
    }
    Sum last = carry[0];
    for (; q < count; ++q) {
        last = static_cast<Sum>(last + from[q]);
        sums[q + 1] = last;
    }
}

// to[p] = (sums[p + block] - sums[p]) / block for p < full.
GLITCHWERK_VECTOR_CLONES void Means(const std::uint16_t* sums, Byte* to, std::size_t full,
                                    std::size_t block) {
    const Divisor<std::uint16_t> divisor(static_cast<std::uint16_t>(block));
    for (std::size_t p = 0; p < full; ++p)
        to[p] = static_cast<Byte>(
            divisor.Quotient(static_cast<std::uint16_t>(sums[p + block] - sums[p])));
}

// The same with 32-bit sums, divided in floating point.
template <class Real>
GLITCHWERK_VECTOR_CLONES void Means(const std::uint32_t* sums, Byte* to, std::size_t full,
                                    std::size_t block) {
    const MeanDivisor<Real> divisor(block);
    for (std::size_t p = 0; p < full; ++p)
        to[p] = divisor(static_cast<std::int32_t>(sums[p + block] - sums[p]));
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

// A block copied in pieces of 64 or 32 bytes where it is made of them: a
// call of memcpy for each small block costs more than its bytes. Inlined, so
// that each version of its callers moves the pieces in its widest registers.
[[gnu::always_inline]] inline void CopyBlock(const Byte* from, Byte* to, std::size_t size) {
    if (size % 64 == 0) {
        for (std::size_t at = 0; at < size; at += 64)
            std::memcpy(to + at, from + at, 64);
    } else if (size % 32 == 0) {
        for (std::size_t at = 0; at < size; at += 32)
            std::memcpy(to + at, from + at, 32);
    } else {
        std::memcpy(to, from, size);
    }
}

// Blocks of a multiple of 64 bytes reversed 64 bytes at a time: each piece
// taken from the mirrored place and its bytes turned round in a register.
using Piece = Byte __attribute__((vector_size(64)));
template <std::size_t... lane>
[[gnu::always_inline]] inline void Turn(Piece& piece, std::index_sequence<lane...>) {
    piece = __builtin_shufflevector(piece, piece, (63 - lane)...);
}
[[gnu::always_inline]] inline void ReverseInPieces(const Byte* from, Byte* to, std::size_t size) {
    for (std::size_t at = 0; at < size; at += 64) {
        Piece piece;
        std::memcpy(&piece, from + size - 64 - at, sizeof piece);
        Turn(piece, std::make_index_sequence<64>{});
        std::memcpy(to + at, &piece, sizeof piece);
    }
}

// The bytes from `full` to `count`, each the mean of those from it to the end
// of `available`, divided in double precision.
template <class Sum>
GLITCHWERK_VECTOR_CLONES void SmoothEnd(const Sum* sums, Byte* to, std::size_t full,
                                        std::size_t count, std::size_t available) {
    for (std::size_t p = full; p < count; ++p)
        to[p] = static_cast<Byte>(static_cast<double>(static_cast<Sum>(sums[available] - sums[p])) /
                                  static_cast<double>(available - p));
}

// Sum is 16 bits wide where 255 * block fits. The first `full` bytes have
// their `block` bytes; the others the bytes from them to the end.
template <class Sum>
void Smooth(const Byte* from, Byte* to, std::size_t count, std::size_t available, std::size_t block,
            std::size_t full) {
    thread_local std::vector<Sum> sums;
    sums.resize(available + 1);
    PrefixSums(from, available, sums.data());
    if constexpr (std::is_same_v<Sum, std::uint16_t>)
        Means(sums.data(), to, full, block);
    else if (block < kSingleBlocks)
        Means<float>(sums.data(), to, full, block);
    else
        Means<double>(sums.data(), to, full, block);
    SmoothEnd(sums.data(), to, full, count, available);
}

// Blocks up to this many bytes are smoothed in 16-bit lanes, by a window sum
// moved along the bytes.
constexpr std::size_t kSlidingBlocks = 16384;

// The window sum W[p] of bytes p to p + block - 1 moves on by W[p] = W[p - 1] +
// from[p - 1 + block] - from[p - 1]. For 64 bytes at a time those steps' sums
// are made in 16-bit lanes, the steps taken in pairs (the pairs' sums, and
// their prefix sums by adding them to themselves moved up by 1 to 16 lanes);
// they lie within +-64 * 255 of the window sum before them, W = quotient *
// block + rest. rest + sum + lift * block, lift * block >= 64 * 255, fits 16
// bits, and so does its quotient, which lacks quotient - lift.
// Divisor::Quotient of each lane.
[[gnu::always_inline]] inline void Quotients(Halves& n, const Divisor<std::uint16_t>& divide) {
    const Halves high = __builtin_convertvector(
        __builtin_convertvector(n, Wide) * std::uint32_t{divide.magic} >> 16, Halves);
    n = (((n - high) >> 1) + high) >> divide.shift;
}

template <bool kPower>
GLITCHWERK_VECTOR_CLONES void SlideMeans(const Byte* from, Byte* to, std::size_t full,
                                         std::size_t block) {
    const auto divisor = static_cast<std::uint16_t>(block);
    const Divisor<std::uint16_t> divide(divisor);
    const int shift = std::countr_zero(block);
    const auto lift = static_cast<std::uint32_t>((64 * 255 + block - 1) / block);
    const Divisor<std::uint32_t> windows(static_cast<std::uint32_t>(block));
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < block; ++i)
        sum += from[i];
    to[0] = static_cast<Byte>(sum / block);
    std::size_t p = 1;
    for (; std::endian::native == std::endian::little && p + 64 <= full; p += 64) {
        Halves out;
        Halves in;
        std::memcpy(&out, from + p - 1, sizeof out);
        std::memcpy(&in, from + p - 1 + block, sizeof in);
        const Halves second = (in >> 8) - (out >> 8);
        Halves steps = (in & 0xFF) - (out & 0xFF) + second;
        PrefixSumsOfLanes(steps);
        const std::uint32_t quotient = windows.Quotient(sum);
        const auto base = static_cast<std::uint16_t>(sum - quotient * block + lift * block);
        const auto low = static_cast<std::uint16_t>(quotient - lift);
        Halves odd = steps + base;
        Halves even = odd - second;
        if constexpr (kPower) {
            odd >>= shift;
            even >>= shift;
        } else {
            Quotients(odd, divide);
            Quotients(even, divide);
        }
        const Halves bytes = (even + low) | (odd + low) << 8;
        std::memcpy(to + p, &bytes, sizeof bytes);
        sum += static_cast<std::uint32_t>(static_cast<std::int16_t>(steps[31]));
    }
    for (; p < full; ++p) {
        sum = sum + from[p - 1 + block] - from[p - 1];
        to[p] = static_cast<Byte>(sum / block);
    }
}

} // namespace

GLITCHWERK_VECTOR_CLONES void ReverseBlocks(const std::uint8_t* from, std::uint8_t* to,
                                            std::size_t count, std::size_t block) {
    for (std::size_t start = 0; start < count; start += block) {
        const std::size_t size = std::min(block, count - start);
        if (size % 64 == 0) {
            ReverseInPieces(from + start, to + start, size);
            continue;
        }
        const Byte* last = from + start + size - 1;
        for (std::size_t i = 0; i < size; ++i)
            to[start + i] = *(last - i);
    }
}

GLITCHWERK_VECTOR_CLONES void SwapBlocks(const std::uint8_t* from, std::uint8_t* to,
                                         std::size_t count, std::size_t block) {
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
    if (block > kSlidingBlocks || block <= 257 || !std::has_single_bit(block)) {
        if (block <= 257)
            Smooth<std::uint16_t>(from, to, count, available, block, full);
        else
            Smooth<std::uint32_t>(from, to, count, available, block, full);
        return;
    }
    if (full > 0)
        SlideMeans<true>(from, to, full, block);
    // The bytes at the end, fewer than `block`, by prefix sums of their own.
    const std::size_t rest = available - full;
    if (count == full)
        return;
    if (block <= 257)
        Smooth<std::uint16_t>(from + full, to + full, count - full, rest, block, 0);
    else
        Smooth<std::uint32_t>(from + full, to + full, count - full, rest, block, 0);
}

namespace {

// Position blocks - 1 - i keeps the block its swap gave it: `placed(position,
// block)` is told at once, so that a copy need not wait for the whole order.
template <class Placed>
[[gnu::always_inline]] inline void Shuffle(std::uint32_t blocks, RandomStream first,
                                           std::vector<std::uint32_t>& order, Placed placed) {
    order.resize(blocks);
    std::iota(order.begin(), order.end(), 0u);
    if (blocks >= 2) {
        std::vector<std::uint32_t> picks(blocks - 1);
        DrawValues(first, picks.data(), static_cast<std::int32_t>(picks.size()));
        Remainders(picks.data(), blocks);
        for (std::uint32_t i = 0; i < blocks - 1; ++i) {
            const std::uint32_t position = blocks - 1 - i;
            const std::uint32_t taken = order[picks[i]];
            order[picks[i]] = order[position];
            order[position] = taken;
            placed(position, taken);
        }
    }
    if (blocks > 0)
        placed(0, order[0]);
}

} // namespace

std::vector<std::uint32_t> ShuffledBlocks(std::uint32_t blocks, RandomStream first) {
    std::vector<std::uint32_t> order;
    Shuffle(blocks, first, order, [](std::uint32_t, std::uint32_t) {});
    return order;
}

GLITCHWERK_VECTOR_CLONES void ShuffleBlocks(const std::uint8_t* from, std::uint8_t* to,
                                            std::size_t block, std::uint32_t blocks,
                                            RandomStream first) {
    thread_local std::vector<std::uint32_t> order;
    Shuffle(blocks, first, order, [&](std::uint32_t position, std::uint32_t taken) {
        CopyBlock(from + std::size_t{taken} * block, to + std::size_t{position} * block, block);
    });
}

} // namespace glitchwerk
