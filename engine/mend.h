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

// What the original's bytes allow: the sums valid there, and where they are.
struct MendPlan {
    unsigned sums = 0;            // MendSum bits
    std::uint64_t snesHeader = 0; // the SNES header's offset in the file
    std::uint64_t length = 0;     // the original's length
};

// Looks at the original (`length` bytes, read through `read`). Empty when no
// sum is valid there, or when a read failed (then `read` told why).
MendPlan FindMendable(std::uint64_t length, const ReadBytes& read);

// Rewrites each sum of `plan` in the open file (the original's length, after
// the steps). False when a read or write failed; `mended` names the sums
// written, in the order of MendSum.
bool MendChecksums(std::FILE* file, const MendPlan& plan, std::vector<std::string>& mended);

} // namespace glitchwerk
