// SPDX-License-Identifier: MIT
#pragma once
// The corruption pass: applies one byte rule to a range of a file in place,
// window by window.

#include "engine/byte_rules.h"
#include "engine/file_stream.h"

#include <cstdint>
#include <filesystem>

namespace glitchwerk {

// The pass reads, corrupts and writes back at most this many bytes at a time.
inline constexpr std::uint32_t kWindowSize = 0x10000;

struct CorruptionRequest {
    std::filesystem::path path;
    std::uint32_t startOffset; // first offset of the range
    std::uint32_t endOffset;   // offset just past the range, as typed
    std::uint32_t fileLength;  // the length recorded when the file was backed up
    ByteRule rule;
};

struct CorruptionResult {
    std::int32_t totalBytes; // hit bytes over the whole range
    std::int32_t firstByte;  // file offset of the first hit byte, -1 for none
    std::int32_t lastByte;   // file offset of the last hit byte, -1 for none
};

// Runs the pass on any plain file. Returns false when the file cannot be
// opened for update or is no plain file (a pipe, a device), or when reading or
// writing fails; `result` is meaningful only on success.
bool RunCorruptionPass(const CorruptionRequest& request, CorruptionResult& result,
                       const Progress& progress = {});

struct BackupStore;
enum class PassOutcome {
    Done,
    NotOpened,  // not opened, not the file the run backed up, or not read: nothing changed
    Incomplete, // a write failed, maybe after earlier windows were written
};
// Runs the pass on the run's edited file (see OpenEditedFile); `result` is
// meaningful only when Done.
PassOutcome RunCorruptionPass(BackupStore& store, const CorruptionRequest& request,
                              CorruptionResult& result, const Progress& progress = {});

// Runs the pass on a file the caller opened for reading and writing; it stays
// open, its buffers flushed. `request.path` is not used.
PassOutcome RunCorruptionPass(std::FILE* file, const CorruptionRequest& request,
                              CorruptionResult& result, const Progress& progress = {});

} // namespace glitchwerk
