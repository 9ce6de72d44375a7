// SPDX-License-Identifier: MIT
#pragma once
// Checksums mended after a corruption, so that the file still loads: the
// format is decided once, on the original's bytes, and a sum is rewritten only
// where it was valid there.

#include "engine/file_parts.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace glitchwerk {

// The sums that can be mended, by the names JSON and the text line give them.
enum class MendSum : unsigned {
    GameBoyHeader = 1,    // "gb-header": 14D over 134..14C
    GameBoyGlobal = 2,    // "gb-global": 14E-14F over every byte but themselves
    GbaHeader = 4,        // "gba-header": BD over A0..BC
    SnesChecksum = 8,     // "snes-checksum": the checksum and its complement
    GenesisChecksum = 16, // "genesis-checksum": 18E over the words from 200
    PngCrc = 32,          // "png-crc": each chunk's CRC-32
};

// A PNG chunk whose CRC-32 was valid on the original: where its type starts,
// and the size of its data.
struct MendChunk {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    bool operator==(const MendChunk&) const = default;
};

// What the original's bytes allow: the sums valid there, and where they are.
struct MendPlan {
    unsigned sums = 0;               // MendSum bits
    std::uint64_t snesHeader = 0;    // the SNES header's offset in the file
    std::uint64_t length = 0;        // the original's length
    std::vector<MendChunk> chunks{}; // for PngCrc, in file order
};

// The name of a sum, as JSON and the text line give it.
const char* MendName(MendSum sum);

// Looks at the original (`length` bytes, read through `read`): the format its
// parts tell (FindParts), or for a file of no kind known there the marks of a
// Genesis image, and of that format the sums valid. Empty when no sum is
// valid there, or when a read failed (then `read` returned false, or the file
// was shorter than `length`).
MendPlan FindMendable(std::uint64_t length, const ReadBytes& read);
// The same of an open file, read where it is; false when a read failed.
bool FindMendable(std::FILE* file, MendPlan& plan);

// Rewrites each sum of `plan` in the open file, after the steps, whatever
// part of it was kept. False, with the cause in LastFailure(), when a read or
// a write failed or the file is shorter than the original; `mended` names the
// sums written, in the order of MendSum.
bool MendChecksums(std::FILE* file, const MendPlan& plan, std::vector<std::string>& mended);

} // namespace glitchwerk
