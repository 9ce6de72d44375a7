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
};
// A pick holds its choice in memory, 16 bytes a byte.
inline constexpr std::uint32_t kMostPicked = 1000000;

struct CorruptionStep {
    std::uint32_t startOffset; // first offset of the range
    std::uint32_t endOffset;   // offset just past the range, as typed
    ByteRule rule;
    Spread spread{};
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
