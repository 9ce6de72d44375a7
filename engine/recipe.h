// SPDX-License-Identifier: MIT
#pragma once
// A recipe: a chain of steps along one random stream, applied to an original
// known by its CRC-32, written as the glitchwerk-cli command that makes the
// same bytes again, or as JSON, and read back from either. The one writer and
// the one reader of both: glitchwerk-cli, the panel and the kept history all
// go through here.

#include "engine/corruption_pass.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glitchwerk {

// The linker keeps it apart from the panel's history row of the same name.
inline namespace recipe_chain {
// What makes the bytes of a try from its original.
struct Chain {
    std::uint32_t seed = 0;
    std::uint64_t draw = 0; // the stream's draw when the first step starts
    std::vector<CorruptionStep> steps;
    std::uint32_t crc32 = 0;       // the original's, whole or without an iNES header
    std::uint64_t size = 0;        // the original's length (carried by JSON alone; 0: unknown)
    std::vector<std::string> keep; // parts of the original no step touches, by name
    bool mend = false;             // checksums valid on the original are mended after the steps
    bool operator==(const Chain&) const = default;
};
} // namespace recipe_chain

// Whether a step draws from the stream (and so moves it on).
bool UsesStream(const CorruptionStep& step);
bool UsesStream(const Chain& chain);

// The command line of `glitchwerk-cli corrupt`, as read.
struct CorruptCommand {
    std::string input;  // as given; empty when left to a --recipe file
    std::string output; // with {seed} or {n} when there are variants
    // Its steps, seed, draw, the CRC-32 expected (crc32, when expectCrc) and
    // the run options. A step whose --range named a part has the part's name
    // in `parts` (offsets 0 until they are found on the input).
    Chain chain;
    std::vector<std::string> parts; // one per step, "" for offsets
    bool seedGiven = false;
    bool expectCrc = false;
    std::optional<std::uint32_t> variants;
    bool force = false;
    bool json = false;
    std::string recipe; // --recipe FILE: the chain comes from there
    // glitchwerk-play's: a contact sheet of the variants' frames.
    std::string sheet;
    std::optional<std::uint32_t> frames;
    bool operator==(const CorruptCommand&) const = default;
};

// Reads the words after `glitchwerk-cli corrupt`. Nothing, with the reason in
// glitchwerk-cli's words (a usage error), when they are no such command.
// Values are checked here: offsets and bytes in hexadecimal, counts in
// decimal, each in its bounds; at most one search, replacement (or whole-range
// rule) and spread a step; run options before the first --then only.
std::optional<CorruptCommand> ParseCorruptWords(const std::vector<std::string>& words,
                                                std::string& error);

// The shells a recipe is written for: POSIX shells (dash included), and
// cmd.exe (each word in double quotes, each % outside them as ^%).
enum class Shell { Posix, Cmd };
#ifdef _WIN32
inline constexpr Shell kNativeShell = Shell::Cmd;
#else
inline constexpr Shell kNativeShell = Shell::Posix;
#endif

// One word as `shell` reads it back exactly; a control character in a POSIX
// word comes from printf, never raw.
std::string ShellWord(std::string_view word, Shell shell = kNativeShell);

// A step's options in four fields, as a recipe gives them: "--range S:E",
// the search ("--search-all" too, but with a whole-range rule, which takes
// none), the replacement or whole-range rule, the spread ("" for every byte).
struct StepFields {
    std::string range, search, replace, spread;
};
StepFields StepWords(const CorruptionStep& step);
// The four fields joined by blanks, the empty ones left out.
std::string StepText(const CorruptionStep& step);
// One step read back from StepText's words (or the JSON's fields, joined).
std::optional<CorruptionStep> ParseStepText(std::string_view text, std::string& error);

// The command that makes `output` from `input` by the chain: "glitchwerk-cli
// corrupt INPUT -o OUTPUT", the first step, --seed and --draw (when the chain
// draws from the stream and, for --draw, is not at 0), --expect-crc32, --keep
// and --mend, then "--then" and each further step. A name that starts with a
// dash is given as "./NAME".
std::string RecipeText(const Chain& chain, std::string_view input, std::string_view output,
                       Shell shell = kNativeShell);

// What a run of the recipe gave, for its JSON.
struct RecipeOutcome {
    std::vector<CorruptionResult> results;  // one per step
    std::optional<std::uint32_t> crc32Bare; // without the iNES header, for an iNES ROM
    std::vector<std::string> mended;        // the checksums mended
    std::vector<std::string> parts;         // per step, the part --range named ("" for none)
};

// The recipe as one line of JSON (no line break), the object glitchwerk-cli's
// --json prints: output, seed, draw, crc32, crc32_without_header, size, hits,
// first, last, steps (range, search, replace, spread, hits, first, last; part),
// keep, mend, mended, recipe, and part (the steps' parts joined by ", ", when
// any); with `input` first when it is not empty. A name that is no UTF-8 gets
// U+FFFD.
std::string RecipeJson(const Chain& chain, std::string_view input, std::string_view output,
                       const RecipeOutcome& outcome);

// A recipe as RecipeText (for `shell`) or RecipeJson wrote it (blanks around
// it allowed): its command. Nothing, with the reason, for any other text: a
// shell's $…, backquote or $(…) that the writer does not write is refused,
// never run. JSON's numbers are read only when they are whole and in bounds.
std::optional<CorruptCommand> ParseRecipe(std::string_view text, std::string& error,
                                          Shell shell = kNativeShell);

} // namespace glitchwerk
