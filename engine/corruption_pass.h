// SPDX-License-Identifier: MIT
#pragma once
// The corruption pass: applies a list of steps, each one byte rule over a
// range of a file, in place, window by window.

#include "engine/byte_rules.h"
#include "engine/file_stream.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace glitchwerk {

// The pass reads, corrupts and writes back at most this many bytes at a time.
inline constexpr std::uint32_t kWindowSize = 0x10000;

// Which of the bytes a step's rule searches for (its matches) are hit.
enum class SpreadKind {
    Every,    // every match
    EveryNth, // the 1st, the (n+1)th, ... match, counted in file order over the range
    Pick,     // the n matches with the smallest (PickKey(seed, first draw, offset), offset)
};
struct Spread {
    SpreadKind kind = SpreadKind::Every;
    std::uint32_t n = 1; // N of EveryNth (at least 1), K of Pick (at most kMostPicked)
    bool operator==(const Spread&) const = default;
};
// A pick holds its choice in memory, 16 bytes a byte.
inline constexpr std::uint32_t kMostPicked = 1000000;

// A rule over the range as a whole, in place of the byte rule's replacement:
// every byte of the range counts as hit, the search is all bytes and the
// spread every byte. The range is taken as it is before the step, lowered to
// the recorded length.
enum class WholeRule : std::int32_t {
    None,
    Shift,    // the byte at o takes the byte at o + value (signed) inside the recorded length
    Reverse,  // each block of `value` bytes reversed, a shorter last one too
    Swap,     // blocks 2j and 2j+1 of `value` bytes swap; one without a whole partner stays
    Shuffle,  // the whole blocks of `value` bytes shuffled by the stream
    CopyFrom, // the byte at o takes the byte at value + (o - start) inside the recorded length
    Smooth,   // each byte the rounded-down mean of it and the next value - 1, fewer at the end
};
struct RangeRule {
    WholeRule kind = WholeRule::None;
    std::int64_t value = 0;
    bool operator==(const RangeRule&) const = default;
};
// The blocks of Reverse, Swap, Shuffle and Smooth, and a shuffle's most blocks.
inline constexpr std::int64_t kMostBlockBytes = 65536;
inline constexpr std::uint64_t kMostShuffledBlocks = 1000000;

struct CorruptionStep {
    std::uint32_t startOffset; // first offset of the range
    std::uint32_t endOffset;   // offset just past the range, as typed
    ByteRule rule;
    Spread spread{};
    RangeRule whole{};
    bool operator==(const CorruptionStep&) const = default;
};

// Bytes [start, end) that no step hits, counts or matches (a kept part).
struct KeptRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool operator==(const KeptRange&) const = default;
};

// The steps run in order, each on the bytes the one before left. A step's
// range is lowered to `fileLength`. Its first draw D is where the stream is
// when it starts; its random byte at offset o takes draw D + (o - start),
// whatever the spread, and a step with random bytes or a pick moves the stream
// on by its range lowered to `fileLength`, matched or not, whatever the file
// holds now (a shortened file draws as the whole one); other steps leave it.
// A pick decides its matches on the bytes before the step: one read of the
// range, then the writes.
struct CorruptionRequest {
    std::filesystem::path path;
    std::uint32_t fileLength; // the length recorded when the file was backed up
    std::vector<CorruptionStep> steps;
    std::vector<KeptRange> kept{}; // over every step
};

struct CorruptionResult {
    std::int32_t totalBytes; // hit bytes over the whole range
    std::int32_t firstByte;  // file offset of the first hit byte, -1 for none
    std::int32_t lastByte;   // file offset of the last hit byte, -1 for none
};

// The passes below take the stream at the first step's first draw and leave
// it after the last step (on failure, where the pass stopped), and give one
// result per step run. They refuse, before opening anything, a step with an
// every-Nth of 0 or a pick of more than kMostPicked.

// Runs the pass on any plain file. Returns false when the file cannot be
// opened for update or is no plain file (a pipe, a device), or when reading or
// writing fails; `results` are meaningful only on success.
bool RunCorruptionPass(const CorruptionRequest& request, RandomStream& stream,
                       std::vector<CorruptionResult>& results, const Progress& progress = {});

struct BackupStore;
enum class PassOutcome {
    Done,
    NotOpened,  // not opened, not the file the run backed up, or not read: nothing changed
    Incomplete, // a write failed, maybe after earlier windows were written
};
// Runs the pass on the run's edited file (see OpenEditedFile); `results` are
// meaningful only when Done.
PassOutcome RunCorruptionPass(BackupStore& store, const CorruptionRequest& request,
                              RandomStream& stream, std::vector<CorruptionResult>& results,
                              const Progress& progress = {});

// Runs the pass on a file the caller opened for reading and writing; it stays
// open, its buffers flushed. `request.path` is not used.
PassOutcome RunCorruptionPass(std::FILE* file, const CorruptionRequest& request,
                              RandomStream& stream, std::vector<CorruptionResult>& results,
                              const Progress& progress = {});

} // namespace glitchwerk
