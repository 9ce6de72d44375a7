// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <utility>

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

// A smoothed byte is a sum of `block` bytes divided by `block`: the
// difference of two prefix sums, taken modulo 2^16 where 255 * block fits and
// modulo 2^32 above. The prefix sums are made a vector at a time: within it,
// by adding it to itself moved up by 1, 2, 4, ... lanes, then the sum of all
// before it; a running sum byte by byte would wait on each addition.
template <class Sum> struct Lanes;
template <> struct Lanes<std::uint16_t> {
    using Sums = std::uint16_t __attribute__((vector_size(64)));
    using Bytes = Byte __attribute__((vector_size(32)));
};
template <> struct Lanes<std::uint32_t> {
    using Sums = std::uint32_t __attribute__((vector_size(64)));
    using Bytes = Byte __attribute__((vector_size(16)));
};
template <class Sum> using SumLanes = typename Lanes<Sum>::Sums;

// v[i] += v[i - shift] for every lane i >= shift.
template <std::size_t shift, class Vector, std::size_t... lane>
void AddMovedUp(Vector& v, std::index_sequence<lane...>) {
    constexpr std::size_t kLanes = sizeof...(lane);
    v += __builtin_shufflevector(Vector{}, v, (lane >= shift ? kLanes + lane - shift : 0)...);
}

// into[i] += v[from] for every lane i.
template <std::size_t from, class Vector, std::size_t... lane>
void AddLane(Vector& into, const Vector& v, std::index_sequence<lane...>) {
    into += __builtin_shufflevector(v, v, (lane * 0 + from)...);
}

// sums[q] = from[0] + ... + from[q - 1] for q <= count, modulo 2^bits of Sum.
template <class Sum>
GLITCHWERK_VECTOR_CLONES void PrefixSums(const Byte* from, std::size_t count, Sum* sums) {
    constexpr std::size_t kLanes = 64 / sizeof(Sum);
    using Bytes = typename Lanes<Sum>::Bytes;
    constexpr auto kEach = std::make_index_sequence<kLanes>{};
    SumLanes<Sum> carry{};
    sums[0] = 0;
    std::size_t q = 0;
    for (; q + kLanes <= count; q += kLanes) {
        Bytes bytes;
        std::memcpy(&bytes, from + q, kLanes);
        SumLanes<Sum> v;
        if constexpr (sizeof(Sum) == 2) {
            v = __builtin_convertvector(bytes, SumLanes<Sum>);
        } else { // GCC would widen each lane on its own
            for (std::size_t i = 0; i < kLanes; ++i)
                v[i] = bytes[i];
        }
        AddMovedUp<1>(v, kEach);
        AddMovedUp<2>(v, kEach);
        AddMovedUp<4>(v, kEach);
        AddMovedUp<8>(v, kEach);
        if constexpr (kLanes > 16)
            AddMovedUp<16>(v, kEach);
        const auto before = carry;
        // The sum of the vector's bytes into every lane, so that the running
        // sum waits on one addition a vector.
        AddLane<kLanes - 1>(carry, v, kEach);
        v += before;
        std::memcpy(sums + q + 1, &v, sizeof v);
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
        Smooth<std::uint16_t>(from, to, count, available, block, full);
    else
        Smooth<std::uint32_t>(from, to, count, available, block, full);
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
