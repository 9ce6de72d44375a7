#include "byte_rules.h"

namespace glitchwerk {
namespace {

// The random generator is counter based: draw n is a hash of n and the seed,
// so successive draws do not wait on each other and a loop over a window can
// compute them side by side.
struct RandomStream {
    std::uint32_t key = 0;
    std::uint32_t counter = 0;
};
RandomStream randomStream;

constexpr std::uint32_t Mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline std::uint8_t RandomByte(std::uint32_t key, std::uint32_t draw) {
    return static_cast<std::uint8_t>(Mix((draw * 0x9e3779b9U) ^ key));
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
    std::uint8_t value;
    bool operator()(std::uint8_t b) const { return b == value; }
};
struct IsInRange { // low <= b < high, valid only when low < high
    std::uint8_t low;
    std::uint8_t width;
    bool operator()(std::uint8_t b) const { return static_cast<std::uint8_t>(b - low) < width; }
};
struct IsAny {
    bool operator()(std::uint8_t) const { return true; }
};

// The three deterministic replace halves.
struct SetTo {
    std::uint8_t value;
    std::uint8_t operator()(std::uint8_t) const { return value; }
};
struct IncreaseBy {
    std::uint8_t step;
    std::uint8_t operator()(std::uint8_t b) const {
        return b > 0xFF - step ? 0xFF : static_cast<std::uint8_t>(b + step);
    }
};
struct DecreaseBy {
    std::uint8_t step;
    std::uint8_t operator()(std::uint8_t b) const {
        return b > step ? static_cast<std::uint8_t>(b - step) : 0;
    }
};

// Finds the first and last hit with two short scans, so that the loop that
// counts and replaces has no branch and runs only between them.
template <class Hit>
bool FindHitSpan(const std::uint8_t* buffer, std::int32_t count, Hit hit, std::int32_t& first,
                 std::int32_t& last) {
    std::int32_t i = 0;
    while (i < count && !hit(buffer[i]))
        ++i;
    if (i == count)
        return false;
    std::int32_t j = count - 1;
    while (!hit(buffer[j]))
        --j;
    first = i;
    last = j;
    return true;
}

template <class Hit, class Replace>
std::int32_t Apply(std::uint8_t* buffer, std::int32_t count, Hit hit, Replace replace,
                   std::int32_t& firstIndex, std::int32_t& lastIndex) {
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (!FindHitSpan(buffer, count, hit, first, last))
        return 0;
    std::int32_t hits = 0;
    for (std::int32_t i = first; i <= last; ++i) {
        const std::uint8_t b = buffer[i];
        const bool isHit = hit(b);
        hits += isHit;
        buffer[i] = isHit ? replace(b) : b;
    }
    firstIndex = first;
    lastIndex = last;
    return hits;
}

// Random replacement: the k-th hit byte of the run gets draw k.
template <class Hit>
std::int32_t ApplyRandom(std::uint8_t* buffer, std::int32_t count, Hit hit,
                         std::int32_t& firstIndex, std::int32_t& lastIndex) {
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (!FindHitSpan(buffer, count, hit, first, last))
        return 0;
    const std::uint32_t key = randomStream.key;
    std::uint32_t draw = randomStream.counter;
    for (std::int32_t i = first; i <= last; ++i) {
        const std::uint8_t b = buffer[i];
        const bool isHit = hit(b);
        buffer[i] = isHit ? RandomByte(key, draw) : b;
        draw += isHit;
    }
    const auto hits = static_cast<std::int32_t>(draw - randomStream.counter);
    randomStream.counter = draw;
    firstIndex = first;
    lastIndex = last;
    return hits;
}

// Every byte is hit: no scans, and draw k goes to byte k.
std::int32_t ApplyRandomToAll(std::uint8_t* buffer, std::int32_t count) {
    const std::uint32_t key = randomStream.key;
    const std::uint32_t base = randomStream.counter;
    for (std::int32_t i = 0; i < count; ++i)
        buffer[i] = RandomByte(key, base + static_cast<std::uint32_t>(i));
    randomStream.counter = base + static_cast<std::uint32_t>(count);
    return count;
}

template <class Hit>
std::int32_t ApplyWithSearch(std::uint8_t* buffer, std::int32_t count, Hit hit,
                             const ByteRule& rule, std::int32_t& firstIndex,
                             std::int32_t& lastIndex) {
    switch (rule.replaceMode) {
    case ReplaceMode::ReplaceSpecificByte:
        return Apply(buffer, count, hit, SetTo{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceIncreaseBy:
        return Apply(buffer, count, hit, IncreaseBy{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceDecreaseBy:
        return Apply(buffer, count, hit, DecreaseBy{rule.replaceValue}, firstIndex, lastIndex);
    case ReplaceMode::ReplaceRandomByte:
        return ApplyRandom(buffer, count, hit, firstIndex, lastIndex);
    }
    return 0;
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
                           std::int32_t& firstIndex, std::int32_t& lastIndex) {
    if (count <= 0)
        return 0;
    switch (rule.searchMode) {
    case SearchMode::SearchSpecificByte:
        return ApplyWithSearch(buffer, count, IsSpecific{rule.searchValue}, rule, firstIndex,
                               lastIndex);
    case SearchMode::SearchByteRange:
        if (rule.searchValue >= rule.searchHigh)
            return 0;
        return ApplyWithSearch(buffer, count,
                               IsInRange{rule.searchValue, static_cast<std::uint8_t>(
                                                               rule.searchHigh - rule.searchValue)},
                               rule, firstIndex, lastIndex);
    case SearchMode::SearchAllBytes:
        if (rule.replaceMode == ReplaceMode::ReplaceRandomByte) {
            firstIndex = 0;
            lastIndex = count - 1;
            return ApplyRandomToAll(buffer, count);
        }
        return ApplyWithSearch(buffer, count, IsAny{}, rule, firstIndex, lastIndex);
    }
    return 0;
}

void SeedRandomGenerator(std::uint32_t seed) {
    randomStream.key = Mix(seed ^ 0x5bd1e995U);
    randomStream.counter = 0;
}

} // namespace glitchwerk
