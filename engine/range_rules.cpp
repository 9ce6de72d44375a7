// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"
#include "engine/vector_clones.h"

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <utility>

// As in byte_rules.cpp: plain loops that the compiler vectorizes, on GCC for
// x86-64 also built for AVX2 and AVX-512 and chosen when the program loads.
namespace glitchwerk {
namespace {

using Byte = std::uint8_t;

// A 64-byte vector as two of 32 bytes, for processors whose registers hold
// 32: there GCC moves the lanes of a 64-byte shuffle, and of some of its
// conversions, one at a time through memory.
template <class T> struct Two {
    typedef T Half __attribute__((vector_size(32)));
    Half lo;
    Half hi;
    static constexpr std::size_t kHalf = 32 / sizeof(T);
    constexpr auto operator[](std::size_t i) const { return i < kHalf ? lo[i] : hi[i - kHalf]; }
};
template <class V> constexpr bool kIsTwo = false;
template <class Half> constexpr bool kIsTwo<Two<Half>> = true;
template <class V>
concept Halved = kIsTwo<V>;
template <class V> using LaneOf = std::remove_cvref_t<decltype(std::declval<const V&>()[0])>;

// Scalars taken as lanes, as a plain vector's operations take them.
#define GLITCHWERK_TWO_OPERATOR(op)                                                                \
    template <Halved V> constexpr V operator op(const V& a, const V& b) {                          \
        return {a.lo op b.lo, a.hi op b.hi};                                                       \
    }                                                                                              \
    template <Halved V, class S>                                                                   \
    requires std::is_arithmetic_v<S>                                                               \
    constexpr V operator op(const V& a, S s) {                                                     \
        const auto lane = static_cast<LaneOf<V>>(s);                                               \
        return {a.lo op lane, a.hi op lane};                                                       \
    }                                                                                              \
    template <Halved V, class S>                                                                   \
    requires std::is_arithmetic_v<S>                                                               \
    constexpr V operator op(S s, const V& a) {                                                     \
        const auto lane = static_cast<LaneOf<V>>(s);                                               \
        return {lane op a.lo, lane op a.hi};                                                       \
    }                                                                                              \
    template <Halved V, class W> constexpr V& operator op##=(V& a, const W& b) {                   \
        return a = a op b;                                                                         \
    }
GLITCHWERK_TWO_OPERATOR(+)
GLITCHWERK_TWO_OPERATOR(-)
GLITCHWERK_TWO_OPERATOR(*)
GLITCHWERK_TWO_OPERATOR(&)
GLITCHWERK_TWO_OPERATOR(|)
GLITCHWERK_TWO_OPERATOR(^)
GLITCHWERK_TWO_OPERATOR(<<)
GLITCHWERK_TWO_OPERATOR(>>)
#undef GLITCHWERK_TWO_OPERATOR
template <Halved V> constexpr V operator~(const V& a) {
    return {~a.lo, ~a.hi};
}
// Comparisons, -1 where they hold, in lanes of the same type.
#define GLITCHWERK_TWO_COMPARISON(op)                                                              \
    template <Halved V, class S>                                                                   \
    requires std::is_arithmetic_v<S>                                                               \
    constexpr V operator op(const V& a, S s) {                                                     \
        using Half = decltype(a.lo);                                                               \
        const auto lane = static_cast<LaneOf<V>>(s);                                               \
        return {reinterpret_cast<Half>(a.lo op lane), reinterpret_cast<Half>(a.hi op lane)};       \
    }
GLITCHWERK_TWO_COMPARISON(<)
GLITCHWERK_TWO_COMPARISON(>=)
#undef GLITCHWERK_TWO_COMPARISON

template <class T, bool kHalved> struct VectorOf {
    typedef T type __attribute__((vector_size(64)));
};
template <class T> struct VectorOf<T, true> { using type = Two<T>; };

// The same bytes as another vector type.
template <class From, class To> [[gnu::always_inline]] inline void As(const From& v, To& into) {
    if constexpr (kIsTwo<From>) {
        using Half = decltype(into.lo);
        into = {reinterpret_cast<Half>(v.lo), reinterpret_cast<Half>(v.hi)};
    } else {
        into = reinterpret_cast<To>(v);
    }
}

// 510 * (i + 1) in lane i.
template <class V, class Lanes> constexpr V kBiasesOf{};
template <class V, std::size_t... i>
constexpr V kBiasesOf<V, std::index_sequence<i...>> = {static_cast<LaneOf<V>>(510 * (i + 1))...};
template <class T, std::size_t... i>
constexpr Two<T> kBiasesOf<Two<T>, std::index_sequence<i...>> = {
    {static_cast<T>(510 * (i + 1))...}, {static_cast<T>(510 * (i + 1 + sizeof...(i)))...}};

// Vectors to and from memory, Two's a half at a time: as one, GCC moves
// them through the stack in pieces of 16 bytes.
template <class V> [[gnu::always_inline]] inline void Load(V& v, const void* from) {
    if constexpr (kIsTwo<V>) {
        std::memcpy(&v.lo, from, sizeof v.lo);
        std::memcpy(&v.hi, static_cast<const Byte*>(from) + sizeof v.lo, sizeof v.hi);
    } else {
        std::memcpy(&v, from, sizeof v);
    }
}
template <class V> [[gnu::always_inline]] inline void Store(void* to, const V& v) {
    if constexpr (kIsTwo<V>) {
        std::memcpy(to, &v.lo, sizeof v.lo);
        std::memcpy(static_cast<Byte*>(to) + sizeof v.lo, &v.hi, sizeof v.hi);
    } else {
        std::memcpy(to, &v, sizeof v);
    }
}

// __builtin_shufflevector(a, b, index...) for Two: each half of the result
// shuffled from the two halves of a and b it takes lanes from.
template <std::size_t... index> struct Permutation {
    static constexpr std::size_t kHalf = sizeof...(index) / 2;
    static constexpr std::array<std::size_t, 2 * kHalf> kAt{index...};
    // The halves, 0 and 1 of a's and 2 and 3 of b's, that half h takes lanes
    // from; the second 4 where more than two.
    static constexpr std::array<std::size_t, 2> Sources(std::size_t h) {
        std::array<std::size_t, 2> sources{kAt[h * kHalf] / kHalf, kAt[h * kHalf] / kHalf};
        bool other = false;
        for (std::size_t i = h * kHalf; i < (h + 1) * kHalf; ++i) {
            const std::size_t source = kAt[i] / kHalf;
            if (source == sources[0] || (other && source == sources[1]))
                continue;
            sources[1] = other ? 4 : source;
            if (other)
                break;
            other = true;
        }
        return sources;
    }
    // Lane i of half h in the shuffle of its two halves.
    static constexpr std::size_t Pick(std::size_t h, std::size_t i) {
        const std::size_t at = kAt[h * kHalf + i];
        return at % kHalf + (at / kHalf == Sources(h)[0] ? 0 : kHalf);
    }
    template <std::size_t h, class Half, std::size_t... i>
    [[gnu::always_inline]] static void Shuffle(const Half (&parts)[4], Half& into,
                                               std::index_sequence<i...>) {
        static_assert(Sources(h)[1] != 4, "each half from at most two");
        into = __builtin_shufflevector(parts[Sources(h)[0]], parts[Sources(h)[1]], Pick(h, i)...);
    }
};
template <std::size_t... index, class V>
[[gnu::always_inline]] inline void Permute(const V& a, const V& b, V& into) {
    if constexpr (kIsTwo<V>) {
        using P = Permutation<index...>;
        using Half = decltype(a.lo);
        const Half parts[4] = {a.lo, a.hi, b.lo, b.hi};
        P::template Shuffle<0>(parts, into.lo, std::make_index_sequence<P::kHalf>{});
        P::template Shuffle<1>(parts, into.hi, std::make_index_sequence<P::kHalf>{});
    } else {
        into = __builtin_shufflevector(a, b, index...);
    }
}

volatile std::uint64_t laneOnes = 0x0001000100010001;

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

// A block copied in pieces of 64 or 32 bytes where it is made of them, and
// where it is at least one piece long but no multiple, its last piece
// overlapping the one before: a call of memcpy for each small block costs more
// than its bytes. `to` does not overlap `from`. Inlined, so that each version
// of its callers moves the pieces in its widest registers.
template <std::size_t kPiece>
[[gnu::always_inline]] inline void CopyInPieces(const Byte* from, Byte* to, std::size_t size) {
    std::size_t at = 0;
    for (; at + kPiece <= size; at += kPiece)
        std::memcpy(to + at, from + at, kPiece);
    if (at < size)
        std::memcpy(to + size - kPiece, from + size - kPiece, kPiece);
}
[[gnu::always_inline]] inline void CopyBlock(const Byte* from, Byte* to, std::size_t size) {
    if (size % 64 == 0) {
        for (std::size_t at = 0; at < size; at += 64)
            std::memcpy(to + at, from + at, 64);
    } else if (size % 32 == 0) {
        for (std::size_t at = 0; at < size; at += 32)
            std::memcpy(to + at, from + at, 32);
    } else if (size >= 64) {
        CopyInPieces<64>(from, to, size);
    } else if (size >= 32) {
        CopyInPieces<32>(from, to, size);
    } else {
        std::memcpy(to, from, size);
    }
}

// 1 / n rounded up to a float, in place kReciprocals - n, for n from 1 to
// kReciprocals. Its product with a sum S <= 255 * n is S / n or less than
// 2^-23 * S / n above; for n <= 2^14 that stays below the next integer by more
// than half a float's step, so the product as a float, rounded down, is the
// quotient.
constexpr std::size_t kReciprocals = 4096;
static_assert(kReciprocals <= 16384, "exact only for n up to 2^14");
constexpr auto kUpward = [] {
    std::array<float, kReciprocals> upward{};
    for (std::size_t i = 0; i < kReciprocals; ++i) {
        const auto n = static_cast<float>(kReciprocals - i);
        float r = 1.0f / n;
        if (static_cast<double>(r) * static_cast<double>(n) < 1.0)
            r = std::bit_cast<float>(std::bit_cast<std::uint32_t>(r) + 1);
        upward[i] = r;
    }
    return upward;
}();

// Each of the `count` bytes the mean of those from it to the end of the
// `available`, fewer than 2^16. A float holds their sum exactly; where more
// than kReciprocals are left, the quotient rounded to nearest stays below the
// next integer: that is at least 1 / available above it, more than half a
// float's step below 256. The last kReciprocals multiply by kUpward.
GLITCHWERK_VECTOR_CLONES void MeansToEnd(const std::uint32_t* sums, Byte* to, std::size_t count,
                                         std::size_t available) {
    // In 32-bit lanes, whose conversions to float are single instructions.
    const auto whole = static_cast<std::int32_t>(sums[available]);
    const auto size = static_cast<std::int32_t>(available);
    const auto end = static_cast<std::int32_t>(count);
    const std::int32_t divided = std::clamp(size - static_cast<std::int32_t>(kReciprocals), 0, end);
    for (std::int32_t p = 0; p < divided; ++p)
        to[p] = static_cast<Byte>(static_cast<float>(whole - static_cast<std::int32_t>(sums[p])) /
                                  static_cast<float>(size - p));
    for (std::int32_t p = divided; p < end; ++p)
        to[p] = static_cast<Byte>(static_cast<float>(whole - static_cast<std::int32_t>(sums[p])) *
                                  kUpward[kReciprocals - static_cast<std::size_t>(size - p)]);
}

// The window sum W[p] of bytes p to p + block - 1 moves on by W[p] = W[p - 1] +
// from[p - 1 + block] - from[p - 1]. For 64 bytes at a time those steps' sums S
// are made in 16-bit lanes, the steps taken in pairs; |S| <= 64 * 255. With
// W[p - 1] = quotient * block + rest, the mean is quotient plus
// (rest + S) / block rounded down, which is found in 16 bits:
// - up to kLiftedBlocks, rest + S + lift * block, lift * block >= 64 * 255,
//   fits 16 bits; its quotient, divided by a shift or by LaneDivisor's
//   multiply, lacks quotient - lift;
// - above, where the mean moves by at most 1, by comparing S with -rest and
//   block - rest.
enum class Division { Shift, Multiply, Compare };

// Window sums, below 2^24, divided by a multiplication by 2^40 / block rounded
// up, which is that plus e / block, 0 <= e < block <= 2^16: the product is
// the quotient plus less than 2^24 * 2^16 / (block * 2^40) = 1 / block.
struct WindowDivisor {
    std::uint32_t size;
    std::uint64_t inverse = ((std::uint64_t{1} << 40) + size - 1) / size;
    explicit WindowDivisor(std::uint32_t block) : size(block) {}
    std::uint32_t Quotient(std::uint32_t sum) const {
        return static_cast<std::uint32_t>((sum * inverse) >> 40);
    }
};
constexpr std::uint32_t kLiftedBlocks = 16384;
constexpr std::uint32_t kMostSteps = 64 * 255;

// The most groups of 64 bytes a window's ring holds, 32 KiB of pairs' sums:
// blocks up to kLiftedBlocks, whose rest plus 64 windows' steps stays within a
// signed 16-bit lane.
constexpr std::uint32_t kMostRing = 256;
static_assert(64 * kMostRing <= kLiftedBlocks && 64 * kMostRing - 1 + kMostSteps <= 32767);

// The rules' hot loops, on 64-byte vectors, or where kHalved on pairs of
// 32-byte ones; kByteShuffles where 16 bytes are shuffled by one instruction
// (SSSE3's pshufb), which the baseline x86-64 lacks.
template <bool kHalved, bool kByteShuffles = true> struct Rules {
    // 32 lanes of 16 bits, as the bytes' pairs, their sums and their quotients.
    template <class T> using Vector = typename VectorOf<T, kHalved>::type;
    using Halves = Vector<std::uint16_t>;
    using Signed = Vector<std::int16_t>;
    using Wide = Vector<std::uint32_t>;

    // The prefix sums of 32 lanes of at most 1020 each, so that no sum leaves 16
    // bits: a multiplication of each 64-bit word by `ones` (of 0x0001 in each
    // lane) adds each of its 4 lanes into those above it. Within the words so;
    // then each word's lanes take the totals of the up to 7 words before it, and
    // the same multiplication adds them up in its top lane. `ones` comes from
    // memory so that the compiler keeps it one multiplication rather than three
    // shifts and additions.
    using Words = Vector<std::uint64_t>;
    [[gnu::always_inline]] static void SumsWithinWords(Halves& v, std::uint64_t ones) {
        if constexpr (kHalved) {
            // Without AVX-512 a 64-bit multiplication is three of 32 bits.
            Words words;
            As(v, words);
            words += words << 16;
            words += words << 32;
            As(words, v);
        } else {
            Words words;
            As(v, words);
            As(words * ones, v);
        }
    }
    // Lane f of word w takes the total of word w - skip - f - 1, if there is one.
    static constexpr std::size_t TotalBefore(std::size_t lane, std::size_t skip) {
        const std::size_t back = skip + lane % 4 + 1;
        return lane / 4 >= back ? 4 * (lane / 4 - back) + 3 : 32;
    }
    template <std::size_t... lane>
    [[gnu::always_inline]] static void TotalsBefore(const Halves& sums, Halves& into,
                                                    std::index_sequence<lane...>) {
        Halves closer;
        Halves further;
        Permute<TotalBefore(lane, 0)...>(sums, Halves{}, closer);
        Permute<TotalBefore(lane, 4)...>(sums, Halves{}, further);
        into = closer + further;
    }
    [[gnu::always_inline]] static void PrefixSumsOfLanes(Halves& v, std::uint64_t ones) {
        SumsWithinWords(v, ones);
        Halves before;
        TotalsBefore(v, before, std::make_index_sequence<32>{});
        SumsWithinWords(before, ones);
        Halves tops;
        Permute<3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15, 19, 19, 19, 19, 23, 23, 23,
                23, 27, 27, 27, 27, 31, 31, 31, 31>(before, before, tops);
        v += tops;
    }

    // The sums of the 64 bytes at `from` up to each: first[i] of bytes 0 to i,
    // second[i] of bytes 0 to 32 + i. On a little-endian machine the bytes are
    // 32 lanes of pairs: the pairs' sums first, their prefix sums (the sums up to
    // each odd byte), and the sums up to the even bytes from those.
    [[gnu::always_inline]] static void SumsOf64(const Byte* from, Halves& first, Halves& second,
                                                std::uint64_t ones) {
        Halves pairs;
        Load(pairs, from);
        const Halves even = pairs & 0xFF;
        Halves odd = even + (pairs >> 8);
        PrefixSumsOfLanes(odd, ones);
        const Halves evens = odd - (pairs >> 8);
        Permute<0, 32, 1, 33, 2, 34, 3, 35, 4, 36, 5, 37, 6, 38, 7, 39, 8, 40, 9, 41, 10, 42, 11,
                43, 12, 44, 13, 45, 14, 46, 15, 47>(evens, odd, first);
        Permute<16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21, 53, 22, 54, 23, 55, 24, 56, 25, 57, 26,
                58, 27, 59, 28, 60, 29, 61, 30, 62, 31, 63>(evens, odd, second);
    }

    // Lanes `first` to `first` + 15 in 32 bits.
    template <std::size_t first, std::size_t... lane>
    [[gnu::always_inline]] static void Widen(const Halves& v, Wide& into,
                                             std::index_sequence<lane...>) {
        Halves widened;
        Permute<(lane % 2 ? 32 : first + lane / 2)...>(v, Halves{}, widened);
        As(widened, into);
    }

    // sums[q] = from[0] + ... + from[q - 1] for q <= count, count below 2^16. The
    // running sum stays in a register, so that it waits on one addition for 64 bytes.
    [[gnu::always_inline]] static void PrefixSums(const Byte* from, std::size_t count,
                                                  std::uint32_t* sums) {
        Wide carry{};
        const std::uint64_t ones = laneOnes;
        sums[0] = 0;
        std::size_t q = 0;
        constexpr auto lanes = std::make_index_sequence<32>{};
        for (; std::endian::native == std::endian::little && q + 64 <= count; q += 64) {
            Halves first;
            Halves second;
            SumsOf64(from + q, first, second, ones);
            Wide parts[4];
            Widen<0>(first, parts[0], lanes);
            Widen<16>(first, parts[1], lanes);
            Widen<0>(second, parts[2], lanes);
            Widen<16>(second, parts[3], lanes);
            Halves last;
            LastLane(second, last, lanes);
            Wide total;
            Widen<0>(last, total, lanes);
            for (Wide& part : parts)
                part += carry;
            carry += total;
            for (std::size_t k = 0; k < 4; ++k)
                Store(sums + q + 1 + 16 * k, parts[k]);
        }
        std::uint32_t last = carry[0];
        for (; q < count; ++q) {
            last += from[q];
            sums[q + 1] = last;
        }
    }

    // Blocks of 64 bytes or more reversed 64 bytes at a time: each piece taken
    // from the mirrored place and its bytes turned round in a register; the
    // last, where the size is no multiple of 64, overlaps the one before it.
    using Piece = Vector<Byte>;
    template <std::size_t... lane>
    [[gnu::always_inline]] static void Turn(Piece& piece, std::index_sequence<lane...>) {
        Permute<(63 - lane)...>(Piece(piece), Piece(piece), piece);
    }
    [[gnu::always_inline]] static void ReverseInPieces(const Byte* from, Byte* to,
                                                       std::size_t size) {
        const auto reversed = [&](std::size_t at) __attribute__((always_inline)) {
            Piece piece;
            Load(piece, from + size - 64 - at);
            Turn(piece, std::make_index_sequence<64>{});
            Store(to + at, piece);
        };
        for (std::size_t at = 0; at + 64 <= size; at += 64)
            reversed(at);
        if (size % 64 != 0)
            reversed(size - 64);
    }
    using Bytes64 = Vector<Byte>;
    static constexpr Halves kBiases =
        kBiasesOf<Halves, std::make_index_sequence<kHalved ? 16 : 32>>;

    // LaneDivisor's quotients of 32 lanes at once: a loop, which the compiler
    // makes one multiply of the high halves and one shift.
    [[gnu::always_inline]] static void Quotients(const LaneDivisor& divide, Halves& n) {
        std::uint16_t lanes[32];
        Store(lanes, n);
        for (std::uint16_t& lane : lanes)
            lane = divide.High(lane);
        Load(n, lanes);
        n >>= divide.shift;
    }

    // Lane 31, by way of its 64-bit word: one move of words down and one to a
    // register, where taking the lane itself costs three.
    [[gnu::always_inline]] static std::uint32_t TopLane(const Halves& v) {
        Words top;
        Words words;
        As(v, words);
        Permute<7, 8, 8, 8, 8, 8, 8, 8>(words, Words{}, top);
        return static_cast<std::uint32_t>(top[0] >> 48);
    }

    // The steps of the 64 windows from the one at `out`, in pairs: `second` the
    // odd ones', `sums` the prefix sums of the pairs' steps, 510 more a pair, so
    // that lane i holds 510 * (i + 1) more.
    [[gnu::always_inline]] static void StepsOf64(const Byte* out, std::size_t block, Halves& sums,
                                                 Halves& second, std::uint64_t ones) {
        Halves leaving;
        Halves entering;
        Load(leaving, out);
        Load(entering, out + block);
        second = (entering >> 8) - (leaving >> 8);
        sums = entering - leaving - second * 255 + 510;
        PrefixSumsOfLanes(sums, ones);
    }

    template <Division kDivision>
    [[gnu::always_inline]] static void Divide(Halves& n, const LaneDivisor& divide, int shift) {
        if constexpr (kDivision == Division::Shift)
            n >>= shift;
        else
            Quotients(divide, n);
    }

    // The 64 means of the odd windows' lifted sums, sums + lifts, and the even
    // ones' from them; each byte's quotient lacks `carried` + `missing`, which
    // are added modulo 256: the mean is a byte.
    template <Division kDivision>
    [[gnu::always_inline]] static void LiftedMeans(const Halves& sums, const Halves& lifts,
                                                   const Halves& second, const LaneDivisor& divide,
                                                   int shift, Byte missing, Byte* to,
                                                   const Halves& carried = Halves{}) {
        Halves odd = sums + lifts;
        Halves even = odd - second;
        Divide<kDivision>(odd, divide, shift);
        Divide<kDivision>(even, divide, shift);
        odd += carried;
        even += carried;
        Halves means = (even & 0xFF) | odd << 8;
        Bytes64 bytes;
        As(means, bytes);
        As(bytes + missing, means);
        Store(to, means);
    }

    // The prefix sums of the pairs of the 64 bytes at `at` and their odd bytes:
    // the steps of windows from their differences at two places.
    struct PairSums {
        Halves sums;
        Halves high;
    };
    [[gnu::always_inline]] static PairSums PairSumsOf64(const Byte* at, std::uint64_t ones) {
        Halves pairs;
        Load(pairs, at);
        PairSums made{.sums = pairs & 0xFF, .high = pairs >> 8};
        made.sums += made.high;
        PrefixSumsOfLanes(made.sums, ones);
        return made;
    }
    // The steps of 64 windows, as StepsOf64 gives them.
    struct Steps {
        Halves sums;
        Halves second;
    };
    // Calls body(at, made(at)) for `at` from p on in steps of `step` while at +
    // step <= full, made for the next `at` before the body of this one, so that
    // the one's chain of prefix sums runs beside the other's divisions (10% to
    // 20% faster on Zen 5).
    template <class Made, class Body>
    [[gnu::always_inline]] static void OneAhead(std::size_t& p, std::size_t full, std::size_t step,
                                                Made made, Body body) {
        if (p + step > full)
            return;
        auto next = made(p);
        for (; p + step <= full; p += step) {
            const auto current = next;
            if (p + 2 * step <= full)
                next = made(p + step);
            body(p, current);
        }
    }

    // to[p] for p < full, full >= 1, each the mean of `block` bytes from p.
    template <Division kDivision>
    [[gnu::always_inline]] static void SlideMeans(const Byte* from, Byte* to, std::size_t full,
                                                  std::size_t block) {
        const auto size = static_cast<std::uint32_t>(block);
        const WindowDivisor windows(size);
        const std::uint64_t ones = laneOnes;
        const LaneDivisor divide(size);
        const int shift = std::countr_zero(size);
        const std::uint32_t lift = (kMostSteps + size - 1) / size;
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < block; ++i)
            sum += from[i];
        to[0] = static_cast<Byte>(windows.Quotient(sum));
        std::size_t p = 1;
        // 128 bytes at a time. Small blocks lift the second 64 by twice as much
        // and carry it on from the first's total in the vector, where their lanes
        // stay below 65408; larger ones lift it from the first's lifted sum at its
        // end, lane 31: its quotient `whole`, less lift, is the second's
        // quotient's part, its remainder the second's rest. The sums of the steps
        // are kBiases more where `biased`.
        const std::uint32_t lift2 = (2 * kMostSteps + size - 1) / size;
        const bool paired = size - 1 + lift2 * size + 2 * kMostSteps + divide.increment < 65408;
        const Halves liftBiases = static_cast<std::uint16_t>(lift * size) - kBiases;
        const auto means128 = [&](const Halves& sums, const Halves& second, const Halves& sums2,
                                  const Halves& second2, auto biased)
            __attribute__((always_inline)) {
            const Halves biases = biased ? kBiases : Halves{};
            const Halves lifts = liftBiases + (kBiases - biases);
            const std::uint32_t most = biased ? kMostSteps : 0;
            const std::uint32_t quotient = windows.Quotient(sum);
            const std::uint32_t rest = sum - quotient * size;
            Halves total;
            LastLane(sums, total, std::make_index_sequence<32>{});
            if (paired) {
                const auto base =
                    static_cast<std::uint16_t>(rest + lift2 * size + divide.increment);
                const Halves lifted = base - biases;
                const auto missing = static_cast<Byte>(quotient - lift2);
                LiftedMeans<kDivision>(sums, lifted, second, divide, shift, missing, to + p);
                LiftedMeans<kDivision>(sums2, lifted + total - static_cast<std::uint16_t>(most),
                                       second2, divide, shift, missing, to + p + 64);
            } else {
                const auto base = static_cast<std::uint16_t>(rest + lift * size + divide.increment);
                const Halves end = total + static_cast<std::uint16_t>(base - most);
                Halves whole = end;
                Divide<kDivision>(whole, divide, shift);
                Halves lifted2;
                if constexpr (kDivision == Division::Shift)
                    lifted2 = (end & static_cast<std::uint16_t>(size - 1)) + lifts;
                else
                    lifted2 = end - whole * static_cast<std::uint16_t>(size) + lifts;
                const auto missing = static_cast<Byte>(quotient - lift);
                LiftedMeans<kDivision>(sums, base - biases, second, divide, shift, missing, to + p);
                LiftedMeans<kDivision>(sums2, lifted2, second2, divide, shift, missing, to + p + 64,
                                       whole - static_cast<std::uint16_t>(lift));
            }
            if (biased) {
                sum += TopLane(sums) + TopLane(sums2) - 2 * kMostSteps;
            } else {
                sum += static_cast<std::uint32_t>(static_cast<std::int16_t>(TopLane(sums)) +
                                                  static_cast<std::int16_t>(TopLane(sums2)));
            }
        };
        constexpr bool little = std::endian::native == std::endian::little;
        // Blocks of a multiple of 64 bytes: the bytes entering one group of 64
        // windows leave the group block / 64 later, their pairs' prefix sums kept
        // till then, in registers for blocks of 64, else in a ring.
        const bool multiple = kDivision != Division::Compare && little && size % 64 == 0;
        if (multiple && size == 64 && p + 128 <= full) {
            PairSums left = PairSumsOf64(from + p - 1, ones);
            for (; p + 128 <= full; p += 128) {
                const PairSums entered = PairSumsOf64(from + p + 63, ones);
                const PairSums entered2 = PairSumsOf64(from + p + 127, ones);
                means128(entered.sums - left.sums, entered.high - left.high,
                         entered2.sums - entered.sums, entered2.high - entered.high,
                         std::false_type{});
                left = entered2;
            }
        }
        if (multiple && size <= 64 * kMostRing && p + 128 <= full) {
            const std::uint32_t groups = size / 64;
            // Every other place of the ring used: a ring of 4096 bytes would stay
            // at the same distance from the bytes read, and a store to it every
            // time seem to the processor to be in the way of a load 4096 bytes off.
            Halves ring[2 * kMostRing];
            for (std::uint32_t k = 0; k < groups; ++k)
                ring[2 * std::size_t{k}] =
                    PairSumsOf64(from + p - 1 + 64 * std::size_t{k}, ones).sums;
            std::uint32_t leaving = 0;
            const auto steps = [&](const Byte* entering, Halves& sums, Halves& second) {
                const PairSums entered = PairSumsOf64(entering, ones);
                Halves left;
                Load(left, entering - block);
                sums = entered.sums - ring[2 * std::size_t{leaving}];
                second = entered.high - (left >> 8);
                ring[2 * std::size_t{leaving}] = entered.sums;
                leaving = leaving + 1 == groups ? 0 : leaving + 1;
            };
            OneAhead(
                p, full, 128,
                [&](std::size_t at) __attribute__((always_inline)) {
                    std::array<Steps, 2> made;
                    steps(from + at - 1 + block, made[0].sums, made[0].second);
                    steps(from + at + 63 + block, made[1].sums, made[1].second);
                    return made;
                },
                [&](std::size_t, const std::array<Steps, 2>& made) __attribute__((always_inline)) {
                    means128(made[0].sums, made[0].second, made[1].sums, made[1].second,
                             std::false_type{});
                });
        }
        const auto steps64 = [&](std::size_t at) __attribute__((always_inline)) {
            Steps made;
            StepsOf64(from + at - 1, block, made.sums, made.second, ones);
            return made;
        };
        if (kDivision != Division::Compare && little) {
            OneAhead(
                p, full, 128,
                [&](std::size_t at) __attribute__((always_inline)) {
                    return std::array<Steps, 2>{steps64(at), steps64(at + 64)};
                },
                [&](std::size_t, const std::array<Steps, 2>& made) __attribute__((always_inline)) {
                    means128(made[0].sums, made[0].second, made[1].sums, made[1].second,
                             std::true_type{});
                });
        }
        const auto means64 = [&](std::size_t at, const Steps& made) __attribute__((always_inline)) {
            const Halves& sums = made.sums;
            const Halves& second = made.second;
            const std::uint32_t quotient = windows.Quotient(sum);
            const std::uint32_t rest = sum - quotient * size;
            if constexpr (kDivision == Division::Compare) {
                // A comparison is -1 where it holds.
                const auto below = static_cast<std::int16_t>(
                    -static_cast<std::int32_t>(std::min(rest, kLiftedBlocks)));
                const auto above = static_cast<std::int16_t>(std::min(size - rest, kLiftedBlocks));
                Signed odd;
                Signed even;
                As(sums - kBiases, odd);
                As(sums - kBiases - second, even);
                const auto mean = static_cast<std::int16_t>(quotient);
                const Signed odds = mean + (odd < below) - (odd >= above);
                const Signed evens = mean + (even < below) - (even >= above);
                Halves evenMeans;
                Halves oddMeans;
                As(evens, evenMeans);
                As(odds, oddMeans);
                const Halves means = (evenMeans & 0xFF) | oddMeans << 8;
                Store(to + at, means);
            } else {
                const auto base = static_cast<std::uint16_t>(rest + lift * size + divide.increment);
                LiftedMeans<kDivision>(sums, base - kBiases, second, divide, shift,
                                       static_cast<Byte>(quotient - lift), to + at);
            }
            sum += TopLane(sums) - kMostSteps;
        };
        if (little)
            OneAhead(p, full, 64, steps64, means64);
        for (; p < full; ++p) {
            sum = sum + from[p - 1 + block] - from[p - 1];
            to[p] = static_cast<Byte>(windows.Quotient(sum));
        }
    }

    // Lane 31 in every lane, and in every 32-bit lane.
    template <std::size_t... lane>
    [[gnu::always_inline]] static void LastLane(const Halves& v, Halves& into,
                                                std::index_sequence<lane...>) {
        Permute<(lane * 0 + 31)...>(v, v, into);
    }
    using Dwords = Vector<std::int32_t>;
    template <std::size_t... lane>
    [[gnu::always_inline]] static void LastLaneWide(const Halves& v, Dwords& into,
                                                    std::index_sequence<lane...>) {
        Halves widened;
        Permute<(31 + lane % 2)...>(v, Halves{}, widened);
        As(widened, into);
    }
    static constexpr Halves kLowBytes = Halves{} + 0xFF;
    // Byte 63 in every byte: with byte shuffles the last of each 16 in each,
    // then those of the last 16 in every 16, two shuffles that need no byte
    // permute; without, by way of its 16-bit lane.
    template <std::size_t... lane>
    [[gnu::always_inline]] static void LastOfEach16(const Bytes64& v, Bytes64& into,
                                                    std::index_sequence<lane...>) {
        Permute<(lane / 16 * 16 + 15)...>(v, v, into);
    }
    [[gnu::always_inline]] static void LastByte(const Bytes64& v, Bytes64& into) {
        if constexpr (kByteShuffles) {
            Bytes64 lasts;
            LastOfEach16(v, lasts, std::make_index_sequence<64>{});
            Words words;
            As(lasts, words);
            Words top;
            Permute<6, 7, 6, 7, 6, 7, 6, 7>(words, words, top);
            As(top, into);
        } else {
            Halves words;
            As(v, words);
            Halves last;
            LastLane(words, last, std::make_index_sequence<32>{});
            As((last >> 8) | (last & ~kLowBytes), into);
        }
    }

    // Calls means(at, group) for `at` from p on in steps of 64 while at + 64 <=
    // full, the group the pairs' sums of the 64 bytes at first + at - 1, each made
    // four groups before its means, so that one group's long chain of sums does
    // not hold up the means of those before it; two on halves, whose 16
    // registers four groups would fill.
    template <class Means>
    [[gnu::always_inline]] static void EachGroup(const Byte* first, std::size_t& p,
                                                 std::size_t full, std::uint64_t ones,
                                                 Means means) {
        if (!kHalved && p + 6 * std::size_t{64} <= full) {
            PairSums ahead = PairSumsOf64(first + p - 1, ones);
            PairSums ahead2 = PairSumsOf64(first + p + 63, ones);
            PairSums ahead3 = PairSumsOf64(first + p + 127, ones);
            PairSums ahead4 = PairSumsOf64(first + p + 191, ones);
            for (; p + 6 * std::size_t{64} <= full; p += 128) {
                const PairSums entered = ahead;
                const PairSums entered2 = ahead2;
                ahead = ahead3;
                ahead2 = ahead4;
                ahead3 = PairSumsOf64(first + p + 255, ones);
                ahead4 = PairSumsOf64(first + p + 319, ones);
                means(p, entered);
                means(p + 64, entered2);
            }
        }
        if (kHalved && p + 4 * std::size_t{64} <= full) {
            PairSums ahead = PairSumsOf64(first + p - 1, ones);
            PairSums ahead2 = PairSumsOf64(first + p + 63, ones);
            for (; p + 4 * std::size_t{64} <= full; p += 128) {
                const PairSums entered = ahead;
                const PairSums entered2 = ahead2;
                ahead = PairSumsOf64(first + p + 127, ones);
                ahead2 = PairSumsOf64(first + p + 191, ones);
                means(p, entered);
                means(p + 64, entered2);
            }
        }
        for (; p + 64 <= full; p += 64)
            means(p, PairSumsOf64(first + p - 1, ones));
    }

    // to[p] for p < full, full > 64, each the mean of `block` bytes from p, a
    // power of two from 64 to 64 * kMostRing. For the 64 windows from p, of the
    // group of 64 bytes at p - 1 leaving and the one at p - 1 + block entering,
    // the odd windows are W[p - 1] plus the difference of the groups' pairs'
    // prefix sums, the even ones that less the difference of the groups' odd
    // bytes. The prefix sums are made once for each group, kept in registers for
    // blocks of 64 and, with the odd bytes, in a ring of block / 64 above. Window
    // sums below 2^16 are divided as they are; larger ones as W[p - 1] = quotient *
    // block + rest: the 64 windows are rest plus the difference, at most 64 * 255
    // either way, in signed 16-bit lanes, shifted with their sign, and the mean
    // that quotient more. W's low 16 bits, which hold the rest, move on by the
    // group's last step, and the quotient by its last window's mean less the
    // quotient: neither waits on the group's means, so groups overlap.
    [[gnu::always_inline]] static void GroupMeans(const Byte* from, Byte* to, std::size_t full,
                                                  std::size_t block) {
        const std::uint64_t ones = laneOnes;
        const auto size = static_cast<std::uint32_t>(block);
        const int shift = std::countr_zero(size);
        std::size_t p = 1;
        std::uint32_t sum = 0;
        if (size == 64) {
            PairSums left = PairSumsOf64(from, ones);
            Halves total;
            LastLane(left.sums, total, std::make_index_sequence<32>{});
            to[0] = static_cast<Byte>(total[0] >> 6);
            EachGroup(
                from + 64, p, full,
                ones, [&](std::size_t at, const PairSums& entered) __attribute__((always_inline)) {
                    const Halves odd = entered.sums - left.sums + total;
                    const Halves even = odd - (entered.high - left.high);
                    const Halves means = even >> 6 | (odd << 2 & ~kLowBytes);
                    Store(to + at, means);
                    left = entered;
                    LastLane(left.sums, total, std::make_index_sequence<32>{});
                });
            sum = total[0];
        } else {
            const std::uint32_t groups = size / 64;
            // Each group's pairs' sums and odd bytes, two vectors a group.
            PairSums ring[kMostRing];
            Dwords first{};
            for (std::uint32_t k = 0; k < groups; ++k) {
                ring[k] = PairSumsOf64(from + 64 * std::size_t{k}, ones);
                Dwords total;
                LastLaneWide(ring[k].sums, total, std::make_index_sequence<32>{});
                first += total;
            }
            const auto window = static_cast<std::uint32_t>(first[0]);
            to[0] = static_cast<Byte>(window >> shift);
            // The window before the group as quotient * block + rest: its low 16
            // bits in every 16-bit lane, the quotient in every byte.
            const auto rests = static_cast<std::uint16_t>(size - 1);
            Halves wrapped = Halves{} + static_cast<std::uint16_t>(window);
            Bytes64 quotient = Bytes64{} + static_cast<Byte>(window >> shift);
            std::uint32_t k = 0;
            EachGroup(
                from + block, p, full,
                ones, [&](std::size_t at, const PairSums& entered) __attribute__((always_inline)) {
                    const Halves steps = entered.sums - ring[k].sums;
                    Signed oddBytes;
                    As(entered.high - ring[k].high, oddBytes);
                    ring[k] = entered;
                    k = (k + 1) & (groups - 1);
                    Signed odd;
                    As(steps + (wrapped & rests), odd);
                    Halves lastStep;
                    LastLane(steps, lastStep, std::make_index_sequence<32>{});
                    wrapped += lastStep;
                    const Signed even = odd - oddBytes;
                    Halves evenMeans;
                    Halves oddMeans;
                    As(even >> shift, evenMeans);
                    As(odd >> (shift - 8), oddMeans);
                    // The even means' low bytes and the odd ones' high bytes, in one
                    // bit select: the means less the quotient.
                    const Halves means = ((evenMeans ^ oddMeans) & kLowBytes) ^ oddMeans;
                    Bytes64 local;
                    As(means, local);
                    Store(to + at, local + quotient);
                    Bytes64 moved;
                    LastByte(local, moved);
                    quotient += moved;
                });
            sum = quotient[0] * size + static_cast<std::uint32_t>(wrapped[0] & rests);
        }
        for (; p < full; ++p) {
            sum = sum + from[p - 1 + block] - from[p - 1];
            to[p] = static_cast<Byte>(sum >> shift);
        }
    }

    [[gnu::always_inline]] static void ReverseBlocks(const Byte* from, Byte* to, std::size_t count,
                                                     std::size_t block) {
        for (std::size_t start = 0; start < count; start += block) {
            const std::size_t size = std::min(block, count - start);
            if (size >= 64) {
                ReverseInPieces(from + start, to + start, size);
                continue;
            }
            const Byte* last = from + start + size - 1;
            for (std::size_t i = 0; i < size; ++i)
                to[start + i] = *(last - i);
        }
    }

    [[gnu::always_inline]] static void SlideMeansBy(Division division, const Byte* from, Byte* to,
                                                    std::size_t full, std::size_t block) {
        switch (division) {
        case Division::Shift:
            return SlideMeans<Division::Shift>(from, to, full, block);
        case Division::Multiply:
            return SlideMeans<Division::Multiply>(from, to, full, block);
        case Division::Compare:
            return SlideMeans<Division::Compare>(from, to, full, block);
        }
    }
};

// The AVX2 versions work on halves of the vectors, the others on the whole.
#ifdef GLITCHWERK_CLONE_BY_HAND
#define GLITCHWERK_BY_HAND(signature, arguments)                                                   \
    GLITCHWERK_CLONE_DEFAULT signature {                                                           \
        return Rules<false, false>::arguments;                                                     \
    }                                                                                              \
    GLITCHWERK_CLONE_AVX2 signature {                                                              \
        return Rules<true>::arguments;                                                             \
    }                                                                                              \
    GLITCHWERK_CLONE_AVX512 signature {                                                            \
        return Rules<false>::arguments;                                                            \
    }
#else
#if defined(__x86_64__) && !defined(__SSSE3__)
constexpr bool kByteShuffles = false;
#else
constexpr bool kByteShuffles = true;
#endif
#define GLITCHWERK_BY_HAND(signature, arguments)                                                   \
    signature {                                                                                    \
        return Rules<false, kByteShuffles>::arguments;                                             \
    }
#endif
GLITCHWERK_BY_HAND(void PrefixSums(const Byte* from, std::size_t count, std::uint32_t* sums),
                   PrefixSums(from, count, sums))
GLITCHWERK_BY_HAND(void GroupMeans(const Byte* from, Byte* to, std::size_t full, std::size_t block),
                   GroupMeans(from, to, full, block))
GLITCHWERK_BY_HAND(void ReverseRuns(const Byte* from, Byte* to, std::size_t count,
                                    std::size_t block),
                   ReverseBlocks(from, to, count, block))
GLITCHWERK_BY_HAND(void SlideMeans(Division division, const Byte* from, Byte* to, std::size_t full,
                                   std::size_t block),
                   SlideMeansBy(division, from, to, full, block))
#undef GLITCHWERK_BY_HAND

void SmoothToEnd(const Byte* from, Byte* to, std::size_t count, std::size_t available) {
    thread_local std::vector<std::uint32_t> sums;
    sums.resize(available + 1);
    PrefixSums(from, available, sums.data());
    MeansToEnd(sums.data(), to, count, available);
}

} // namespace

void ReverseBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                   std::size_t block) {
    ReverseRuns(from, to, count, block);
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

LaneDivisor::LaneDivisor(std::uint32_t block) {
    if (std::has_single_bit(block))
        return;
    shift = static_cast<int>(std::bit_width(block)) - 1;
    const std::uint64_t scale = std::uint64_t{1} << (16 + shift);
    const std::uint64_t up = (scale + block - 1) / block;
    increment = up * block - scale > (std::uint64_t{1} << shift);
    magic = static_cast<std::uint16_t>(up - increment);
}

void SmoothBytes(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                 std::size_t available, std::size_t block) {
    if (count == 0)
        return;
    if (block <= 1) {
        std::memcpy(to, from, count);
        return;
    }
    // The first `full` bytes have their `block` bytes; the others the bytes
    // from them to the end.
    const std::size_t full = available >= block ? std::min(count, available - block + 1) : 0;
    if (full > 0 && block > kLiftedBlocks)
        SlideMeans(Division::Compare, from, to, full, block);
    else if (std::endian::native == std::endian::little && full > 64 &&
             std::has_single_bit(block) && block >= 64 && block <= std::size_t{64} * kMostRing &&
             block != 128)
        GroupMeans(from, to, full, block);
    else if (full > 0 && std::has_single_bit(block))
        SlideMeans(Division::Shift, from, to, full, block);
    else if (full > 0)
        SlideMeans(Division::Multiply, from, to, full, block);
    if (count > full)
        SmoothToEnd(from + full, to + full, count - full, available - full);
}

namespace {

// Position blocks - 1 - i keeps the block its swap gave it: `placed(position,
// block)` is told at once, so that a copy need not wait for the whole order.
template <class Placed>
[[gnu::always_inline]] inline void Shuffle(std::uint32_t blocks, RandomStream first,
                                           std::vector<std::uint32_t>& order, Placed placed) {
    order.resize(blocks);
    std::iota(order.begin(), order.end(), 0u);
    // The order and the draws through plain pointers: through the vectors GCC
    // reads their data pointers again after every copy `placed` makes. The
    // draws' array is kept from call to call, as the order is: making it anew
    // took a tenth of a shuffle of 1024 blocks.
    std::uint32_t* const slots = order.data();
    if (blocks >= 2) {
        thread_local std::vector<std::uint32_t> drawn;
        drawn.resize(blocks - 1);
        std::uint32_t* const picks = drawn.data();
        DrawValues(first, picks, static_cast<std::int32_t>(blocks - 1));
        Remainders(picks, blocks);
        for (std::uint32_t i = 0; i < blocks - 1; ++i) {
            const std::uint32_t position = blocks - 1 - i;
            const std::uint32_t taken = slots[picks[i]];
            slots[picks[i]] = slots[position];
            slots[position] = taken;
            placed(position, taken);
        }
    }
    if (blocks > 0)
        placed(0, slots[0]);
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
