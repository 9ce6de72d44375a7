// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "cli/play_command.h"

#include "engine/backup_store.h"
#include "engine/corruption_pass.h"
#include "engine/crc32.h"
#include "engine/file_parts.h"
#include "engine/file_stream.h"
#include "engine/mend.h"
#include "engine/publish.h"
#include "engine/recipe.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

constexpr char kProgram[] = "glitchwerk-cli";

constexpr char kHelp[] =
    R"(Corrupts chosen bytes of a copy of a file, so that the same command makes the same copy again.
Usage: glitchwerk-cli [--help|--version] COMMAND

Commands:
  corrupt                     Write a corrupted copy of INPUT to OUTPUT; INPUT is never changed.
  parts                       Print the parts of FILE, found from its bytes: each one's name,
                              offsets START:END (hexadecimal) and size. A name also serves as
                              --range or --keep of corrupt.
  play                        Run FILE in an emulator core from power-on and write its frame N
                              as a PNG (see glitchwerk-cli play --help).
)";

constexpr char kCorruptHelp[] =
    R"(Write a corrupted copy of INPUT to OUTPUT; INPUT is never changed. Values and offsets are
hexadecimal; counts, seeds and draws decimal.
Usage: glitchwerk-cli corrupt INPUT -o OUTPUT STEP [RUN OPTIONS] [--then STEP]...
       glitchwerk-cli corrupt [INPUT] --recipe FILE [-o OUTPUT] [--force] [--json]

A step: its offsets, which bytes, what they become, which of them are hit.
  --range START:END|PART      The offsets to corrupt, END left out, or a part's name (see parts)
  --search-byte V             Bytes of value V
  --search-range LOW:HIGH     Bytes from LOW up to HIGH, left out
  --search-all                Every byte (the default)
  --set V                     The value V
  --add N                     Itself plus N, at most FF
  --subtract N                Itself minus N, at least 00
  --random                    A random byte, from the seed
  --xor V                     Itself XOR V
  --flip-bit                  Itself with one of its bits flipped, from the seed
  --rotate-left N             Its bits rotated left by N, 1 to 7
  --tilt N                    Itself plus a random step from -N to N (1 to FF), from 00 to FF
  --every N                   Hit the 1st, the (N+1)th, ... found
  --pick K                    Hit K found, chosen by the seed
Or a rule over the range as a whole, with no search or spread (B is 1 to 65536):
  --shift N                   Each byte takes the one N further on (N may be negative)
  --reverse B                 Each block of B bytes reversed
  --swap B                    Each two neighbouring blocks of B bytes swapped
  --shuffle B                 The blocks of B bytes shuffled, from the seed
  --copy-from OFFSET          The bytes from OFFSET on copied over the range
  --smooth B                  Each byte the mean of itself and the B - 1 after it

Run options, before the first --then:
  -o,--output OUTPUT          The copy; with --variants it holds {seed} or {n}
  --seed N                    0 to 4294967295 (default: a random one)
  --draw D                    The first draw of the seed's stream (default: 0)
  --variants K                Make K copies (at most 100000), from consecutive seeds
  --expect-crc32 CRC          Refuse an INPUT with another CRC-32
  --keep PART                 Leave a part of INPUT as it is (repeatable)
  --mend                      Mend the checksums that were valid in INPUT
  --force                     Replace OUTPUT if it is a plain file
  --json                      Print one JSON object per copy
  --recipe FILE               Replay a recipe, the JSON that --json printed or its line
  --sheet SHEET.png           Play each copy and draw their frames in one contact sheet
  --frames N                  The frame of each copy on the sheet (default: 180)
)";

constexpr char kPartsHelp[] =
    R"(Print the parts of FILE, found from its bytes: each one's name, offsets START:END
(hexadecimal) and size. A name also serves as --range or --keep of corrupt.
Usage: glitchwerk-cli parts [--json] FILE

  --json                      Print one JSON object per part
)";

// Arguments that make no sense (exit status 2), and work that failed (1).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Hex(std::uint32_t value, const char* format = "%X") {
    char text[9];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Text for the terminal: a control character in a name (an escape sequence)
// is shown as its octal code, never sent raw.
std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        char code[5];
        std::snprintf(code, sizeof code, "\\%03o", static_cast<unsigned char>(c));
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? code : std::string(1, c);
    }
    return shown;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

// A name as the command line gave it: UTF-8 on Windows (read wide, passed on
// in UTF-8), the system's own bytes elsewhere.
fs::path PathOf(const std::string& name) {
#ifdef _WIN32
    return fs::path(std::u8string(name.begin(), name.end()));
#else
    return fs::path(name);
#endif
}

std::string OutputName(std::string pattern, std::uint32_t seed, std::uint32_t n) {
    for (const auto& [field, value] : {std::pair{std::string("{seed}"), std::to_string(seed)},
                                       std::pair{std::string("{n}"), std::to_string(n)}}) {
        for (auto at = pattern.find(field); at != std::string::npos; at = pattern.find(field, at))
            pattern.replace(at, field.size(), value);
    }
    return pattern;
}

// Opens a file to read, refusing what is no plain file or too large to edit.
FileHandle OpenInput(const std::string& name, FileFacts& facts) {
    FileHandle input = OpenFile(PathOf(name), OpenHow::Reading);
    if (!input || !ReadFacts(input.get(), facts))
        throw Failure("cannot read " + name + ": " + LastFailure());
    if (!facts.regular)
        throw Failure(name + " is not a plain file");
    if (facts.length > kLargestFile)
        throw Failure(name + " is 2 GiB or more");
    return input;
}

FileParts ReadParts(std::FILE* file, const std::string& name) {
    std::optional<FileParts> parts = FindParts(file);
    if (!parts)
        throw Failure("cannot read " + name + ": " + LastFailure());
    return std::move(*parts);
}

int PrintParts(const std::string& name, bool json, std::ostream& out, std::ostream& err) {
    FileFacts facts;
    const FileHandle file = OpenInput(name, facts);
    const FileParts parts = ReadParts(file.get(), name);
    for (const FilePart& part : parts.parts) {
        const std::string start = Hex(static_cast<std::uint32_t>(part.start));
        const std::string end = Hex(static_cast<std::uint32_t>(part.end));
        if (json) {
            const nlohmann::ordered_json line = {{"name", part.name},
                                                 {"start", start},
                                                 {"end", end},
                                                 {"size", part.end - part.start}};
            out << line.dump() << '\n';
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "%-8s %17s  %llu bytes\n", part.name.c_str(),
                          std::string(start).append(":").append(end).c_str(),
                          static_cast<unsigned long long>(part.end - part.start));
            out << text;
        }
    }
    if (parts.kind == FileKind::Png && !json) {
        err << kProgram
            << ": note: PNG checks its data: in a tried sample, 50 PNGs with 10 random bytes "
               "each opened 0 times (2 times even with the chunk CRCs mended), against 50 of 50 "
               "BMPs and 40 of 50 JPEGs, so BMP or JPEG is the format to bend\n";
    }
    if (!out.flush())
        throw Failure("cannot print the parts of " + name);
    return 0;
}

// A recipe file: small, plain, read whole.
std::string ReadRecipe(const std::string& name) {
    FileFacts facts;
    const FileHandle file = OpenInput(name, facts);
    if (facts.length > (1 << 20))
        throw UsageError("--recipe: " + name + " is larger than any recipe (1 MiB)");
    std::string text(static_cast<std::size_t>(facts.length), '\0');
    std::size_t got = 0;
    if (!ReadAt(file.get(), 0, text.data(), text.size(), got))
        throw Failure("cannot read " + name + ": " + LastFailure());
    text.resize(got);
    return text;
}

// The chain, the names and the CRC-32 from a recipe file; INPUT and OUTPUT as
// given, if they are.
CorruptCommand Replayed(const CorruptCommand& command) {
    std::string why;
    std::optional<CorruptCommand> recipe = ParseRecipe(ReadRecipe(command.recipe), why);
    if (!recipe)
        throw UsageError("--recipe: " + command.recipe + ": " + why);
    CorruptCommand replayed;
    replayed.input = command.input.empty() ? recipe->input : command.input;
    replayed.output = command.output.empty() ? recipe->output : command.output;
    replayed.chain = recipe->chain;
    replayed.parts = recipe->parts;
    replayed.seedGiven = recipe->seedGiven;
    replayed.expectCrc = recipe->expectCrc;
    replayed.force = command.force;
    replayed.json = command.json;
    replayed.recipe = command.recipe;
    if (replayed.input.empty())
        throw UsageError("INPUT is missing (" + command.recipe + " names none)");
    return replayed;
}

// The offsets of the parts that --range and --keep name, found on the input
// before anything else: all that follows goes by the offsets.
std::vector<KeptRange> ResolveParts(CorruptCommand& command, std::FILE* input) {
    std::optional<FileParts> parts;
    const auto find = [&](const std::string& name, const std::string& option,
                          const char* wrong) -> const FilePart& {
        if (!parts)
            parts = ReadParts(input, command.input);
        if (const FilePart* part = FindPart(*parts, name))
            return *part;
        std::vector<std::string> names;
        for (const FilePart& each : parts->parts)
            names.push_back(each.name);
        throw UsageError(
            option + ": " + wrong + " " + command.input +
            (names.empty() ? " (it has none)" : " (its parts: " + Joined(names) + ")") + ": " +
            name);
    };
    for (std::size_t i = 0; i < command.chain.steps.size(); ++i) {
        if (command.parts[i].empty())
            continue;
        const FilePart& part = find(command.parts[i], "--range", "neither START:END nor a part of");
        command.chain.steps[i].startOffset = static_cast<std::uint32_t>(part.start);
        command.chain.steps[i].endOffset = static_cast<std::uint32_t>(part.end);
    }
    std::vector<KeptRange> kept;
    for (const std::string& name : command.chain.keep) {
        const FilePart& part = find(name, "--keep", "not a part of");
        kept.push_back({part.start, part.end});
    }
    return kept;
}

// Refuses an output that is the input itself, that exists without --force, or
// that is no plain file (a pipe, a device, a folder, a link): --force replaces
// plain files alone. Gives the file it may replace.
std::optional<FileId> CheckOutput(const CorruptCommand& command, const FileId& inputId,
                                  const std::string& output) {
    if (output.ends_with('\n'))
        throw UsageError("--output: a name that ends with a line break has no recipe");
    FileFacts facts;
    bool found = false;
    if (!FactsAtName(PathOf(output), facts, found) || !found)
        return std::nullopt; // or it cannot be looked at: creating the copy says why
    if (facts.id == inputId)
        throw Failure(output + " is the input file");
    if (!command.force)
        throw Failure(output + " exists (--force replaces it)");
    if (!facts.regular)
        throw Failure(output + " is no plain file (--force replaces only those)");
    return facts.id;
}

// What the run needs of its input, found once for every copy. Its CRC-32 is
// that of the bytes the first copy took from it, and every copy's must be the
// same.
struct Original {
    std::FILE* file;
    FileFacts facts;
    std::optional<FileCrc32> crc;
    std::vector<KeptRange> kept;
    MendPlan mend;
};

struct Made {
    std::vector<CorruptionResult> results;
    std::vector<std::string> mended;
    bool synced = true;
};

// Writes the corrupted copy into a new file beside `output`, which takes the
// name `output` only once it is complete and on the disk: a failure leaves no
// part of an output behind. The copy must have the CRC-32 read from the input
// before, so that the recipe gives this copy again.
Made MakeOutput(const CorruptCommand& command, Original& original, const std::string& output,
                const std::optional<FileId>& replaces) {
    Made made;
    bool created = false;
    bool changed = false;
    const auto length = static_cast<std::uint32_t>(original.facts.length);
    const auto write = [&](std::FILE* copy) {
        created = true;
        // One pass over the input: the copy, and the CRC-32 of what it holds.
        FileCrc32 copied;
        if (!CopyWithCrc32(original.file, copy, length, copied))
            return false;
        if (!original.crc) {
            original.crc = copied;
            if (command.expectCrc && command.chain.crc32 != copied.whole &&
                command.chain.crc32 != copied.withoutHeader)
                return false; // told by the caller, from original.crc
        } else if (copied != *original.crc) {
            changed = true;
            return false;
        }
        RandomStream stream{command.chain.seed, command.chain.draw};
        errno = 0;
        if (RunCorruptionPass(copy, {PathOf(output), length, command.chain.steps, original.kept},
                              stream, made.results) != PassOutcome::Done) {
            if (errno != 0) // the pass's own reads and writes tell by errno alone
                SetFailure(ErrnoText(errno));
            return false;
        }
        return !command.chain.mend || MendChecksums(copy, original.mend, made.mended);
    };
    switch (PublishFile({PathOf(output), original.facts.permissions, replaces}, write)) {
    case PublishResult::Published:
        return made;
    case PublishResult::Unsynced:
        made.synced = false;
        return made;
    case PublishResult::Taken:
        throw Failure(output + (replaces ? " changed meanwhile (--force replaces only the file "
                                           "it looked at)"
                                         : " appeared meanwhile (--force replaces it)"));
    case PublishResult::Failed:
        break;
    }
    if (changed)
        throw Failure(command.input + " changed while it was read");
    if (original.crc && command.expectCrc && command.chain.crc32 != original.crc->whole &&
        command.chain.crc32 != original.crc->withoutHeader) {
        const std::string bare =
            original.crc->withoutHeader ? Hex(*original.crc->withoutHeader, "%08X") : "";
        throw Failure(command.input + " has the CRC-32 " + Hex(original.crc->whole, "%08X") +
                      (bare.empty() ? "" : " (" + bare + " without its iNES header)") + ", not " +
                      Hex(command.chain.crc32, "%08X") +
                      ". If Glitchwerk is editing it, Restore it there first.");
    }
    throw Failure((created ? "cannot write " : "cannot create ") + output + ": " + LastFailure());
}

int Corrupt(CorruptCommand command, std::ostream& out, std::ostream& err) {
    if (!command.recipe.empty())
        command = Replayed(command);
    if (command.input.ends_with('\n'))
        throw UsageError("INPUT: a name that ends with a line break has no recipe");
    Chain& chain = command.chain;
    const std::uint32_t variants = command.variants.value_or(1);
    if (!command.seedGiven) // any, so that the seeds of the batch stay at most 4294967295
        chain.seed = std::uniform_int_distribution<std::uint32_t>(
            0, std::numeric_limits<std::uint32_t>::max() -
                   (variants - 1))(*std::make_unique<std::random_device>());

    Original original{nullptr, {}, {}, {}, {}};
    const FileHandle input = OpenInput(command.input, original.facts);
    original.file = input.get();
    const std::uint64_t length = static_cast<std::uint64_t>(original.facts.length);
    original.kept = ResolveParts(command, input.get());
    for (const CorruptionStep& step : chain.steps) { // so that every step processes a byte
        if (step.startOffset >= length) {
            throw Failure("--range starts at " + Hex(step.startOffset) +
                          ", at or past the end of " + command.input + " (its size is " +
                          Hex(static_cast<std::uint32_t>(length)) + ")");
        }
        const std::uint64_t covered =
            std::min<std::uint64_t>(step.endOffset, length) - step.startOffset;
        if (step.whole.kind == WholeRule::Shuffle &&
            covered / static_cast<std::uint64_t>(step.whole.value) > kMostShuffledBlocks) {
            throw Failure("--shuffle " + std::to_string(step.whole.value) + ": the range holds " +
                          std::to_string(covered / static_cast<std::uint64_t>(step.whole.value)) +
                          " blocks of it, more than " + std::to_string(kMostShuffledBlocks));
        }
    }
    if (chain.mend) { // decided on the original, before any copy is corrupted
        bool read = true;
        original.mend = FindMendable(length, [&](std::uint64_t offset, std::uint8_t* buffer,
                                                 std::size_t size, std::size_t& got) {
            read = ReadAt(input.get(), offset, buffer, size, got);
            return read;
        });
        if (!read)
            throw Failure("cannot read " + command.input + ": " + LastFailure());
    }
    chain.size = length;

    const std::uint32_t firstSeed = chain.seed;
    const auto outputName = [&](std::uint32_t n) {
        return command.variants ? OutputName(command.output, firstSeed + (n - 1), n)
                                : command.output;
    };
    std::vector<std::optional<FileId>> replaces;
    for (std::uint32_t n = 1; n <= variants; ++n) // before any is written
        replaces.push_back(CheckOutput(command, original.facts.id, outputName(n)));
    RecipeOutcome outcome;
    outcome.parts = command.parts;
    const std::string named = Joined([&] {
        std::vector<std::string> parts;
        std::ranges::copy_if(command.parts, std::back_inserter(parts),
                             [](const std::string& part) { return !part.empty(); });
        return parts;
    }());
    std::vector<SheetVariant> made; // for the contact sheet
    auto reported = std::chrono::steady_clock::now();
    for (std::uint32_t n = 1; n <= variants; ++n) {
        if (const auto now = std::chrono::steady_clock::now();
            now - reported > std::chrono::seconds(2)) {
            err << kProgram << ": making copy " << n << " of " << variants << '\n';
            reported = now;
        }
        chain.seed = firstSeed + (n - 1);
        const std::string output = outputName(n);
        Made copy = MakeOutput(command, original, output, replaces[n - 1]);
        chain.crc32 = original.crc->whole;
        const std::string crcText = Hex(original.crc->whole, "%08X");
        const std::string bareText =
            original.crc->withoutHeader ? Hex(*original.crc->withoutHeader, "%08X") : "";
        outcome.crc32Bare = original.crc->withoutHeader;
        made.push_back({output, chain.seed});
        // Over all steps: the hits, the lowest first and the highest last.
        CorruptionResult total{0, -1, -1};
        for (const CorruptionResult& result : copy.results) {
            total.totalBytes += result.totalBytes;
            if (result.totalBytes && (total.firstByte == -1 || result.firstByte < total.firstByte))
                total.firstByte = result.firstByte;
            total.lastByte = std::max(total.lastByte, result.lastByte);
        }
        if (command.json) {
            outcome.results = std::move(copy.results);
            outcome.mended = copy.mended;
            out << RecipeJson(chain, command.input, output, outcome) << '\n';
        } else {
            out << Shown(output) << ": " << total.totalBytes
                << (total.totalBytes == 1 ? " byte hit" : " bytes hit")
                << (named.empty() ? "" : " in " + named);
            if (total.totalBytes)
                out << ", first " << Hex(static_cast<std::uint32_t>(total.firstByte)) << ", last "
                    << Hex(static_cast<std::uint32_t>(total.lastByte));
            if (!bareText.empty())
                out << "; CRC-32 " << crcText << " whole, " << bareText
                    << " without the iNES header";
            if (!copy.mended.empty())
                out << "; mended " << Joined(copy.mended);
            out << "; recipe: " << RecipeText(chain, command.input, output) << '\n';
        }
        // The line is the only record of a random seed: it must not get lost.
        if (!out.flush())
            throw Failure("cannot print what was made: " + output + " has no recipe");
        if (!total.totalBytes)
            err << kProgram << ": warning: no byte of " << Shown(output) << " was hit\n";
        if (!copy.synced)
            throw Failure("cannot sync the folder of " + output + ": " + LastFailure());
    }
    if (command.sheet.empty())
        return 0;
    return WriteContactSheet(made,
                             {command.sheet,
                              command.input,
                              command.frames.value_or(180),
                              {},
                              command.force,
                              command.json},
                             out, err);
}

// --help or -h among the words before `--`.
bool AsksForHelp(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--")
            return false;
        if (word == "--help" || word == "-h")
            return true;
    }
    return false;
}

int Parts(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    std::string extra;
    int json = 0;
    bool positional = false;
    for (const std::string& word : words) {
        if (word == "--then" && !positional)
            throw UsageError("--then: for corrupt only");
        if (word == "--" && !positional)
            positional = true;
        else if (word == "--json" && !positional)
            ++json;
        else if (positional || word.size() < 2 || word[0] != '-')
            files.push_back(word);
        else if (extra.empty())
            extra = word;
    }
    if (!extra.empty() || files.size() > 1)
        throw UsageError("not understood: " + (extra.empty() ? files[1] : extra));
    if (json > 1)
        throw UsageError("--json: given twice");
    if (files.empty())
        throw UsageError("FILE is missing");
    return PrintParts(files[0], json != 0, out, err);
}

int Print(std::ostream& out, std::string_view text) {
    out << text;
    return out.flush() ? 0 : 1;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == "play")
        return RunPlay({args.begin() + 1, args.end()}, out, err);
    const std::string command = args.empty() ? "" : args[0];
    const std::vector<std::string> words(args.begin() + !args.empty(), args.end());
    try {
        if (command.empty())
            throw UsageError("no command given");
        if (command == "--help" || command == "-h")
            return Print(out, kHelp);
        if (command == "--version")
            return Print(out, std::string(kProgram) + " " + GLITCHWERK_VERSION + "\n");
        if (command == "parts")
            return AsksForHelp(words) ? Print(out, kPartsHelp) : Parts(words, out, err);
        if (command != "corrupt")
            throw UsageError("not understood: " + command);
        if (AsksForHelp(words))
            return Print(out, kCorruptHelp);
        std::string why;
        std::optional<CorruptCommand> parsed = ParseCorruptWords(words, why);
        if (!parsed)
            throw UsageError(why);
        return Corrupt(std::move(*parsed), out, err);
    } catch (const UsageError& error) {
        err << kProgram << ": " << Shown(error.what()) << "; see " << kProgram
            << (command == "corrupt" || command == "parts" ? " " + command : "") << " --help\n";
        return 2;
    } catch (const Failure& error) {
        err << kProgram << ": " << Shown(error.what()) << '\n';
        return 1;
    }
}

} // namespace glitchwerk
