// SPDX-License-Identifier: MIT
#pragma once
// glitchwerk-cli play, and the contact sheet of corrupt's variants: files
// run in glitchwerk-play from power-on, their frame written as PNG.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace glitchwerk {

// `glitchwerk-cli play FILE -o OUT.png [--frames N] [--core PATH] [--force]
// [--json]`, the words after "play". Returns the exit status: 0 written, 1
// not (no core, refused, crashed, hung, or OUT.png not writable), 2 a usage
// error.
int RunPlay(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

struct SheetVariant {
    std::string file;
    std::uint32_t seed = 0;
};

struct SheetRequest {
    std::string sheet; // the PNG to write
    std::string input; // the original, which the sheet never replaces
    std::uint32_t frames = 180;
    std::string core;   // the core of every variant; empty: chosen by each file
    bool force = false; // replace a plain file at `sheet`
    bool json = false;
};

// A sheet shows this many variants at most, the first ones.
inline constexpr std::size_t kMostSheetCells = 256;

// Plays each variant as play does and writes one sheet of their frames, in a
// grid, each labelled with its seed and outcome. SHEET follows play's rules
// for OUT.png and is none of the variants. Returns 0 when the sheet was
// written, whatever the variants' outcomes, else 1.
int WriteContactSheet(const std::vector<SheetVariant>& variants, const SheetRequest& request,
                      std::ostream& out, std::ostream& err);

} // namespace glitchwerk
