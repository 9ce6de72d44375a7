// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "cli/play_command.h"

#include "engine/backup_store.h"
#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"
#include "engine/file_parts.h"
#include "engine/file_stream.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json; // keys in the order written

constexpr char kProgram[] = "glitchwerk-cli";

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

bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

std::string Octal(char c) {
    char text[5];
    std::snprintf(text, sizeof text, "\\%03o", static_cast<unsigned char>(c));
    return text;
}

// Text for the terminal: a control character in a name (an escape sequence)
// is shown as its octal code, never sent raw.
std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text)
        shown += IsControl(c) ? Octal(c) : std::string(1, c);
    return shown;
}

// Strict, unlike the dialog's fields: an optional 0x, hexadecimal digits and
// nothing else, at most `largest`.
std::uint32_t ParseHex(std::string_view text, std::uint32_t largest, const std::string& option) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error == std::errc::result_out_of_range || (error == std::errc() && value > largest))
        throw UsageError(option + ": too large (at most " + Hex(largest) +
                         "): " + std::string(text));
    if (error != std::errc() || end != digits.data() + digits.size())
        throw UsageError(option + ": not hexadecimal: " + std::string(text));
    return value;
}

std::pair<std::uint32_t, std::uint32_t> ParseHexPair(const std::string& text, std::uint32_t largest,
                                                     const std::string& option) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        throw UsageError(option + ": not two values joined by ':': " + text);
    return {ParseHex(std::string_view(text).substr(0, colon), largest, option),
            ParseHex(std::string_view(text).substr(colon + 1), largest, option)};
}

std::uint64_t ParseDecimal(const std::string& text, const std::string& option,
                           std::uint64_t largest = std::numeric_limits<std::uint32_t>::max()) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range || (error == std::errc() && value > largest))
        throw UsageError(option + ": too large (at most " + std::to_string(largest) + "): " + text);
    if (error != std::errc() || end != text.data() + text.size())
        throw UsageError(option + ": not a decimal number: " + text);
    return value;
}

// A name that no program takes for an option.
std::string AsArgument(const std::string& path) {
    return path.starts_with('-') ? "./" + path : path;
}

// A word that a POSIX shell (dash included) reads back as it is. Control
// characters are rebuilt by printf, a line break together with the character
// after it, since the shell drops line breaks at the end of "$(...)"; a name
// that ends with one is refused before.
std::string ShellWord(const std::string& text) {
    std::string word;
    bool quoted = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && IsControl(text[end]))
            ++end;
        if (end > at && text[end - 1] == '\n' && end < text.size())
            ++end;
        if (end > at) {
            word += quoted ? "'\"$(printf '" : "\"$(printf '";
            for (; at < end; ++at)
                word += Octal(text[at]);
            word += "')\"";
            quoted = false;
        } else {
            word += quoted ? "" : "'";
            word += text[at] == '\'' ? std::string("'\\''") : std::string(1, text[at]);
            quoted = true;
            ++at;
        }
    }
    return word.empty() ? "''" : quoted ? word + "'" : word;
}

// A step's options, as a recipe gives them: the range, the search, the
// replacement and the spread, each with a blank before.
std::array<std::string, 4> StepWords(const CorruptionStep& step) {
    using enum SearchMode;
    using enum ReplaceMode;
    const ByteRule& rule = step.rule;
    const char* option = rule.replaceMode == ReplaceSpecificByte ? " --set "
                         : rule.replaceMode == ReplaceIncreaseBy ? " --add "
                         : rule.replaceMode == ReplaceDecreaseBy ? " --subtract "
                                                                 : nullptr;
    const std::string n = std::to_string(step.spread.n);
    return {" --range " + Hex(step.startOffset) + ":" + Hex(step.endOffset),
            rule.searchMode == SearchSpecificByte ? " --search-byte " + Hex(rule.searchValue)
            : rule.searchMode == SearchByteRange
                ? " --search-range " + Hex(rule.searchValue) + ":" + Hex(rule.searchHigh)
                : " --search-all",
            option ? option + Hex(rule.replaceValue) : " --random",
            step.spread.kind == SpreadKind::EveryNth ? " --every " + n
            : step.spread.kind == SpreadKind::Pick   ? " --pick " + n
                                                     : ""};
}

bool UsesStream(const CorruptionStep& step) {
    return step.rule.replaceMode == ReplaceMode::ReplaceRandomByte ||
           step.spread.kind == SpreadKind::Pick;
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

// One corruption, as the command line gave it.
struct Job {
    std::string input;
    std::string output; // with {seed} or {n} when there are variants
    std::vector<CorruptionStep> steps;
    // Per step: the part whose name --range gave (its offsets come from the
    // input), or nothing.
    std::vector<std::string> parts;
    std::uint32_t seed = 0;
    std::uint64_t draw = 0;
    std::uint32_t variants = 1;
    std::optional<std::uint32_t> expectedCrc;
    bool force = false;
    bool json = false;
    bool numbered = false; // --variants given: {seed} and {n} in `output` are filled in
};

constexpr std::uint32_t kMostVariants = 100000;

// The CRC-32 of a whole file and, for an iNES ROM, of what follows its 16-byte
// header: the one ROM catalogues and emulators list.
struct Checksums {
    std::uint32_t whole = 0;
    std::optional<std::uint32_t> withoutHeader;
};

Checksums ReadChecksums(std::FILE* file, const std::string& name) {
    constexpr std::size_t kHeader = 16;
    std::vector<unsigned char> block(1 << 16);
    const uLong none = crc32(0, nullptr, 0);
    const std::size_t header = SeekTo(file, 0) ? std::fread(block.data(), 1, kHeader, file) : 0;
    const bool ines = header == kHeader && std::memcmp(block.data(), "NES\x1A", 4) == 0;
    const uLong headerCrc = crc32(none, block.data(), static_cast<uInt>(header));
    uLong rest = none;
    z_off_t restLength = 0;
    for (std::size_t got = 0; (got = std::fread(block.data(), 1, block.size(), file)) > 0;) {
        rest = crc32(rest, block.data(), static_cast<uInt>(got));
        restLength += static_cast<z_off_t>(got);
    }
    if (std::ferror(file) || !SeekTo(file, 0))
        throw Failure("cannot read " + name + ": " + std::strerror(errno));
    Checksums sums{static_cast<std::uint32_t>(crc32_combine(headerCrc, rest, restLength)), {}};
    if (ines)
        sums.withoutHeader = static_cast<std::uint32_t>(rest);
    return sums;
}

std::string OutputName(std::string pattern, std::uint32_t seed, std::uint32_t n) {
    for (const auto& [field, value] : {std::pair{std::string("{seed}"), std::to_string(seed)},
                                       std::pair{std::string("{n}"), std::to_string(n)}}) {
        for (auto at = pattern.find(field); at != std::string::npos; at = pattern.find(field, at))
            pattern.replace(at, field.size(), value);
    }
    return pattern;
}

// Refuses an output that is the input itself, that exists without --force, or
// that is no plain file (a pipe, a device, a folder, a link): --force replaces
// plain files alone.
void CheckOutput(const Job& job, const FileId& inputId, const std::string& output) {
    if (output.ends_with('\n'))
        throw UsageError("--output: a name that ends with a line break has no recipe");
    std::error_code error;
    const fs::file_type type = fs::symlink_status(PathOf(output), error).type();
    if (type == fs::file_type::not_found || type == fs::file_type::none)
        return; // or it cannot be looked at: creating the copy says why
    FileHandle existing = OpenFile(PathOf(output), OpenHow::Reading);
    FileFacts facts;
    if (existing && ReadFacts(existing.get(), facts) && facts.id == inputId)
        throw Failure(output + " is the input file");
    if (!job.force)
        throw Failure(output + " exists (--force replaces it)");
    if (type != fs::file_type::regular)
        throw Failure(output + " is no plain file (--force replaces only those)");
}

// Removes what a failed OpenFile(New) may have created before its stream
// failed: an empty file of ours under our random name holds nothing to lose.
void RemoveIfLeftEmpty(const fs::path& partial) {
    FileHandle left = OpenFile(partial, OpenHow::Reading);
    FileFacts facts;
    const bool empty = left && ReadFacts(left.get(), facts) && facts.regular && facts.ours &&
                       facts.length == 0 && facts.links == 1;
    left.reset();
    std::error_code ignored;
    if (empty)
        fs::remove(partial, ignored);
}

// Writes the corrupted copy into a new file beside `output`, which takes the
// name `output` only once it is complete and on the disk: a failure leaves no
// part of an output behind. The copy must have the CRC-32 `crc` read from the
// input before, so that the recipe gives this copy again.
std::vector<CorruptionResult> MakeOutput(const Job& job, std::FILE* input, const FileFacts& facts,
                                         std::uint32_t crc, const std::string& output,
                                         std::uint32_t seed) {
    std::random_device random;
    const fs::path folder = PathOf(output).parent_path();
    fs::path partial;
    FileHandle copy;
    OpenFailure failure = OpenFailure::Exists;
    for (int tries = 0; !copy && failure == OpenFailure::Exists && tries < 100; ++tries) {
        partial = folder / (".glitchwerk-" + Hex(random(), "%08X") + ".partial");
        copy = OpenFile(partial, OpenHow::New, &failure, facts.permissions);
    }
    if (!copy) {
        const int error = errno;
        if (failure == OpenFailure::Other)
            RemoveIfLeftEmpty(partial);
        throw Failure("cannot create " + output + ": " + std::strerror(error));
    }
    const auto cannotWrite = [&] {
        return Failure("cannot write " + output + ": " + std::strerror(errno));
    };
    try {
        const auto length = static_cast<std::uint32_t>(facts.length);
        if (!CopyWhole(input, copy.get(), length, 1 << 16))
            throw cannotWrite();
        if (ReadChecksums(copy.get(), output).whole != crc)
            throw Failure(job.input + " changed while it was read");
        RandomStream stream{seed, job.draw};
        std::vector<CorruptionResult> results;
        if (RunCorruptionPass(copy.get(), {partial, length, job.steps}, stream, results) !=
                PassOutcome::Done ||
            !FlushToDisk(copy.get()) || !CloseStream(copy))
            throw cannotWrite();
        CheckOutput(job, facts.id, output); // again: another program may have been quicker
        bool existed = false;
        std::error_code renameError;
        if (job.force)
            fs::rename(partial, PathOf(output), renameError);
        else if (!RenameWithoutReplacing(partial, PathOf(output), existed))
            renameError.assign(errno, std::generic_category());
        if (existed)
            throw Failure(output + " appeared meanwhile (--force replaces it)");
        if (renameError)
            throw Failure("cannot write " + output + ": " + renameError.message());
        return results;
    } catch (...) {
        copy.reset();
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
}

// Opens a file to read, refusing what is no plain file or too large to edit.
FileHandle OpenInput(const std::string& name, FileFacts& facts) {
    FileHandle input = OpenFile(PathOf(name), OpenHow::Reading);
    if (!input || !ReadFacts(input.get(), facts))
        throw Failure("cannot read " + name + ": " + std::strerror(errno));
    if (!facts.regular)
        throw Failure(name + " is not a plain file");
    if (facts.length > kLargestFile)
        throw Failure(name + " is 2 GiB or more");
    return input;
}

FileParts ReadParts(std::FILE* file, const std::string& name) {
    std::optional<FileParts> parts = FindParts(file);
    if (!parts)
        throw Failure("cannot read " + name + ": " + std::strerror(errno));
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
            const Json line = {{"name", part.name},
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

// The offsets of the parts named by --range, found on the input before anything else: all
// that follows goes by the offsets.
void ResolveParts(Job& job, std::FILE* input) {
    std::optional<FileParts> parts;
    for (std::size_t i = 0; i < job.steps.size(); ++i) {
        if (job.parts[i].empty())
            continue;
        if (!parts)
            parts = ReadParts(input, job.input);
        const FilePart* part = FindPart(*parts, job.parts[i]);
        if (!part) {
            std::string names;
            for (const FilePart& each : parts->parts)
                names += (names.empty() ? "" : ", ") + each.name;
            throw UsageError("--range: neither START:END nor a part of " + job.input +
                             (names.empty() ? " (it has none)" : " (its parts: " + names + ")") +
                             ": " + job.parts[i]);
        }
        job.steps[i].startOffset = static_cast<std::uint32_t>(part->start);
        job.steps[i].endOffset = static_cast<std::uint32_t>(part->end);
    }
}

int Run(Job job, std::ostream& out, std::ostream& err) {
    FileFacts facts;
    const FileHandle input = OpenInput(job.input, facts);
    ResolveParts(job, input.get());
    for (const CorruptionStep& step : job.steps) { // so that every step processes a byte
        if (step.startOffset >= facts.length) {
            throw Failure("--range starts at " + Hex(step.startOffset) +
                          ", at or past the end of " + job.input + " (its size is " +
                          Hex(static_cast<std::uint32_t>(facts.length)) + ")");
        }
    }
    const Checksums crc = ReadChecksums(input.get(), job.input);
    const std::string crcText = Hex(crc.whole, "%08X");
    const std::string bareText = crc.withoutHeader ? Hex(*crc.withoutHeader, "%08X") : "";
    if (job.expectedCrc && *job.expectedCrc != crc.whole && job.expectedCrc != crc.withoutHeader) {
        throw Failure(job.input + " has the CRC-32 " + crcText +
                      (bareText.empty() ? "" : " (" + bareText + " without its iNES header)") +
                      ", not " + Hex(*job.expectedCrc, "%08X"));
    }
    const auto outputName = [&](std::uint32_t n) {
        return job.numbered ? OutputName(job.output, job.seed + (n - 1), n) : job.output;
    };
    for (std::uint32_t n = 1; n <= job.variants; ++n) // before any is written
        CheckOutput(job, facts.id, outputName(n));
    const bool random = std::ranges::any_of(job.steps, UsesStream);
    auto reported = std::chrono::steady_clock::now();
    for (std::uint32_t n = 1; n <= job.variants; ++n) {
        if (const auto now = std::chrono::steady_clock::now();
            now - reported > std::chrono::seconds(2)) {
            err << kProgram << ": making copy " << n << " of " << job.variants << '\n';
            reported = now;
        }
        const std::uint32_t seed = job.seed + (n - 1);
        const std::string output = outputName(n);
        const std::vector<CorruptionResult> results =
            MakeOutput(job, input.get(), facts, crc.whole, output, seed);
        const fs::path folder = PathOf(output).parent_path();
        const bool synced = FlushFolderToDisk(folder.empty() ? fs::path(".") : folder);
        const int syncError = errno;
        std::string recipe = std::string(kProgram) + " corrupt " +
                             ShellWord(AsArgument(job.input)) + " -o " +
                             ShellWord(AsArgument(output));
        // Over all steps: the hits, the lowest first and the highest last.
        CorruptionResult total{0, -1, -1};
        Json steps = Json::array();
        std::string named; // the parts --range named, in the order of the steps
        for (std::size_t i = 0; i < job.steps.size(); ++i) {
            const auto words = StepWords(job.steps[i]);
            recipe += (i ? " --then" : "") + words[0] + words[1] + words[2] + words[3];
            if (i == 0) {
                recipe += (random ? " --seed " + std::to_string(seed) : "") +
                          (random && job.draw ? " --draw " + std::to_string(job.draw) : "") +
                          " --expect-crc32 " + crcText;
            }
            const CorruptionResult& result = results[i];
            total.totalBytes += result.totalBytes;
            if (result.totalBytes && (total.firstByte == -1 || result.firstByte < total.firstByte))
                total.firstByte = result.firstByte;
            total.lastByte = std::max(total.lastByte, result.lastByte);
            const auto hexOrNull = [&](std::int32_t at) {
                return result.totalBytes ? Json(Hex(static_cast<std::uint32_t>(at))) : Json();
            };
            const auto bare = [](const std::string& word) { return word.substr(!word.empty()); };
            Json step = {{"range", bare(words[0]).substr(std::strlen("--range "))},
                         {"search", bare(words[1])},
                         {"replace", bare(words[2])},
                         {"spread", bare(words[3])},
                         {"hits", result.totalBytes},
                         {"first", hexOrNull(result.firstByte)},
                         {"last", hexOrNull(result.lastByte)}};
            if (!job.parts[i].empty()) {
                step["part"] = job.parts[i];
                named += (named.empty() ? "" : ", ") + job.parts[i];
            }
            steps.push_back(std::move(step));
        }
        const auto offset = [&](std::int32_t at) {
            return total.totalBytes ? Hex(static_cast<std::uint32_t>(at)) : std::string();
        };
        if (job.json) {
            const auto hexOrNull = [&](std::int32_t at) {
                return total.totalBytes ? Json(offset(at)) : Json();
            };
            Json line = {
                {"output", output},
                {"seed", seed},
                {"draw", job.draw},
                {"crc32", crcText},
                {"crc32_without_header", bareText.empty() ? Json() : Json(bareText)},
                {"hits", total.totalBytes},
                {"first", hexOrNull(total.firstByte)},
                {"last", hexOrNull(total.lastByte)},
                {"steps", steps},
                {"recipe", recipe},
            };
            if (!named.empty())
                line["part"] = named;
            // A name that is no UTF-8 (JSON's only encoding) gets U+FFFD.
            out << line.dump(-1, ' ', true, Json::error_handler_t::replace) << '\n';
        } else {
            out << Shown(output) << ": " << total.totalBytes
                << (total.totalBytes == 1 ? " byte hit" : " bytes hit")
                << (named.empty() ? "" : " in " + named);
            if (total.totalBytes)
                out << ", first " << offset(total.firstByte) << ", last " << offset(total.lastByte);
            if (!bareText.empty())
                out << "; CRC-32 " << crcText << " whole, " << bareText
                    << " without the iNES header";
            out << "; recipe: " << recipe << '\n';
        }
        // The line is the only record of a random seed: it must not get lost.
        if (!out.flush())
            throw Failure("cannot print what was made: " + output + " has no recipe");
        if (!total.totalBytes)
            err << kProgram << ": warning: no byte of " << Shown(output) << " was hit\n";
        if (!synced)
            throw Failure("cannot sync the folder of " + output + ": " + std::strerror(syncError));
    }
    return 0;
}

// The parser's own account of a wrong command line, in our words.
std::string Reworded(const CLI::ParseError& error) {
    if (!dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        return error.what();
    const std::string text = error.what();
    std::string option = text.substr(0, text.find_first_of(": "));
    if (!option.starts_with('-'))
        option = "--" + option; // a flag, named without its dashes
    return option + (text.find("flag override") != std::string::npos ? ": takes no value"
                                                                     : ": needs a value");
}

// Of the options in `group`, those given: at most one, or exactly one when `needed`.
const CLI::Option* OneOf(const std::vector<CLI::Option*>& group, bool needed,
                         const std::string& missing) {
    std::vector<std::string> given;
    const CLI::Option* chosen = nullptr;
    for (const CLI::Option* option : group) {
        if (option->count()) {
            given.push_back(option->get_name());
            chosen = option;
        }
    }
    if (given.size() > 1)
        throw UsageError(given[0] + " and " + given[1] + ": choose one");
    if (needed && !chosen)
        throw UsageError(missing);
    return chosen;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == "play")
        return RunPlay({args.begin() + 1, args.end()}, out, err);
    CLI::App app{"Corrupts chosen bytes of a copy of a file, so that the same command makes the "
                 "same copy again.",
                 kProgram};
    app.set_version_flag("--version", std::string(kProgram) + " " + GLITCHWERK_VERSION);
    // Missing, repeated and unknown arguments are found below, to be told in our words.
    app.allow_extras();
    CLI::App* corrupt =
        app.add_subcommand("corrupt", "Write a corrupted copy of INPUT to OUTPUT; INPUT is never "
                                      "changed. Values and offsets are hexadecimal.");
    corrupt->allow_extras();
    corrupt->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string input, output, range, searchByte, searchRange, set, add, subtract;
    std::string every, pick, seed, draw, variants, crc;
    bool searchAll = false, random = false, force = false, json = false;
    CLI::Option* inputGiven =
        corrupt->add_option("INPUT", input, "The file to corrupt")->type_name("");
    CLI::Option* outputGiven =
        corrupt
            ->add_option("-o,--output", output, "The copy; with --variants it holds {seed} or {n}")
            ->type_name("OUTPUT");
    CLI::Option* rangeGiven =
        corrupt
            ->add_option("--range", range,
                         "The offsets to corrupt, END left out, or a part's name (see parts)")
            ->type_name("START:END|PART");
    CLI::Option_group* search = corrupt->add_option_group("search", "Which bytes (default: all)");
    const std::vector<CLI::Option*> searches = {
        search->add_option("--search-byte", searchByte, "Bytes of value V")->type_name("V"),
        search->add_option("--search-range", searchRange, "Bytes from LOW up to HIGH, left out")
            ->type_name("LOW:HIGH"),
        search->add_flag("--search-all", searchAll, "Every byte")->disable_flag_override(),
    };
    CLI::Option_group* replace = corrupt->add_option_group("replace", "What a hit byte becomes");
    const std::vector<CLI::Option*> replaces = {
        replace->add_option("--set", set, "The value V")->type_name("V"),
        replace->add_option("--add", add, "Itself plus N, at most FF")->type_name("N"),
        replace->add_option("--subtract", subtract, "Itself minus N, at least 00")->type_name("N"),
        replace->add_flag("--random", random, "A random byte, from the seed")
            ->disable_flag_override(),
    };
    CLI::Option_group* spread =
        corrupt->add_option_group("spread", "Which of the bytes found are hit (default: all)");
    const std::vector<CLI::Option*> spreads = {
        spread->add_option("--every", every, "The 1st, the (N+1)th, ... found")->type_name("N"),
        spread->add_option("--pick", pick, "K found, chosen by the seed")->type_name("K"),
    };
    CLI::Option* seedGiven =
        corrupt->add_option("--seed", seed, "Decimal, 0 to 4294967295 (default: a random one)")
            ->type_name("N");
    CLI::Option* drawGiven =
        corrupt->add_option("--draw", draw, "The first draw of the seed's stream (default: 0)")
            ->type_name("D");
    CLI::Option* variantsGiven =
        corrupt
            ->add_option("--variants", variants,
                         "Make K copies (at most 100000), from consecutive seeds")
            ->type_name("K");
    CLI::Option* crcGiven =
        corrupt->add_option("--expect-crc32", crc, "Refuse an INPUT with another CRC-32")
            ->type_name("CRC");
    // Those of the whole corruption, given before the first --then only.
    const std::vector<CLI::Option*> runOptions = {
        inputGiven,
        outputGiven,
        seedGiven,
        drawGiven,
        variantsGiven,
        crcGiven,
        corrupt->add_flag("--force", force, "Replace OUTPUT if it is a plain file")
            ->disable_flag_override(),
        corrupt->add_flag("--json", json, "Print one JSON object per copy")
            ->disable_flag_override(),
    };
    std::vector<CLI::Option*> options = runOptions;
    options.push_back(rangeGiven);
    for (const auto* group : {&searches, &replaces, &spreads})
        options.insert(options.end(), group->begin(), group->end());
    corrupt->footer("Steps after the first, each with its own --range, search, replacement and "
                    "spread, follow --then.");
    CLI::App* partsCommand = app.add_subcommand(
        "parts", "Print the parts of FILE, found from its bytes: each one's name, offsets "
                 "START:END (hexadecimal) and size. A name also serves as --range of corrupt.");
    partsCommand->allow_extras();
    partsCommand->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string file;
    bool partsJson = false;
    const CLI::Option* fileGiven =
        partsCommand->add_option("FILE", file, "The file to look at")->type_name("");
    const CLI::Option* partsJsonGiven =
        partsCommand->add_flag("--json", partsJson, "Print one JSON object per part")
            ->disable_flag_override();

    // The steps' words, split at each --then.
    std::vector<std::vector<std::string>> groups(1);
    for (const std::string& arg : args) {
        if (arg == "--then")
            groups.emplace_back();
        else
            groups.back().push_back(arg);
    }
    Job job;

    try {
        for (std::size_t group = 0; group < groups.size(); ++group) {
            if (group > 0 && groups[group].empty())
                throw UsageError("--then: no step follows");
            std::vector<std::string> words = groups[group];
            if (group > 0)
                words.insert(words.begin(), "corrupt");
            try {
                std::vector<char*> argv{const_cast<char*>(kProgram)};
                for (const std::string& word : words)
                    argv.push_back(const_cast<char*>(word.c_str()));
                app.parse(static_cast<int>(argv.size()), argv.data());
            } catch (const CLI::ParseError& error) {
                if (error.get_exit_code() == 0)
                    return app.exit(error, out, err); // --help, --version
                throw UsageError(Reworded(error));
            }
            for (const CLI::App* part : {&app, corrupt, partsCommand}) {
                for (const std::string& extra : part->remaining()) {
                    if (extra != "--") // kept by the parser, though it did its work
                        throw UsageError("not understood: " + extra);
                }
            }
            if (partsCommand->parsed()) {
                if (groups.size() > 1)
                    throw UsageError("--then: for corrupt only");
                for (const CLI::Option* option : {fileGiven, partsJsonGiven}) {
                    if (option->count() > 1)
                        throw UsageError(option->get_name() + ": given twice");
                }
                if (!fileGiven->count())
                    throw UsageError("FILE is missing");
                return PrintParts(file, partsJson, out, err);
            }
            if (!corrupt->parsed())
                throw UsageError("no command given");
            for (const CLI::Option* option : options) {
                if (option->count() > 1)
                    throw UsageError(option->get_name() + ": given twice");
                if (group > 0 && option->count() && std::ranges::count(runOptions, option))
                    throw UsageError(option->get_name() + ": before the first --then only");
            }
            for (const CLI::Option* option : {inputGiven, outputGiven, rangeGiven}) {
                if (group == 0 && !option->count())
                    throw UsageError(option->get_name() + " is missing");
            }
            if (!rangeGiven->count())
                throw UsageError("--range is missing after --then");
            CorruptionStep& step = job.steps.emplace_back();
            std::string& part = job.parts.emplace_back();
            if (range.find(':') == std::string::npos)
                part = range;
            else
                std::tie(step.startOffset, step.endOffset) =
                    ParseHexPair(range, 0xFFFFFFFF, "--range");
            if (part.empty() && step.startOffset >= step.endOffset)
                throw UsageError("--range: START is not below END: " + range);
            step.rule = {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
            const CLI::Option* searchGiven = OneOf(searches, false, "");
            if (searchGiven == searches[0]) {
                step.rule.searchMode = SearchMode::SearchSpecificByte;
                step.rule.searchValue =
                    static_cast<std::uint8_t>(ParseHex(searchByte, 0xFF, "--search-byte"));
            } else if (searchGiven == searches[1]) {
                const auto [low, high] = ParseHexPair(searchRange, 0xFF, "--search-range");
                step.rule.searchMode = SearchMode::SearchByteRange;
                step.rule.searchValue = static_cast<std::uint8_t>(low);
                step.rule.searchHigh = static_cast<std::uint8_t>(high);
            }
            const CLI::Option* replaceGiven =
                OneOf(replaces, true,
                      "what hit bytes become is missing: --set, --add, --subtract or --random");
            const std::string* values[] = {&set, &add, &subtract};
            const ReplaceMode modes[] = {ReplaceMode::ReplaceSpecificByte,
                                         ReplaceMode::ReplaceIncreaseBy,
                                         ReplaceMode::ReplaceDecreaseBy};
            for (std::size_t i = 0; i < std::size(values); ++i) {
                if (replaceGiven == replaces[i]) {
                    step.rule.replaceMode = modes[i];
                    step.rule.replaceValue = static_cast<std::uint8_t>(
                        ParseHex(*values[i], 0xFF, replaces[i]->get_name()));
                }
            }
            const CLI::Option* spreadGiven = OneOf(spreads, false, "");
            if (spreadGiven == spreads[0]) {
                step.spread = {SpreadKind::EveryNth,
                               static_cast<std::uint32_t>(ParseDecimal(every, "--every"))};
                if (step.spread.n == 0)
                    throw UsageError("--every: at least 1: " + every);
            } else if (spreadGiven == spreads[1]) {
                step.spread = {SpreadKind::Pick, static_cast<std::uint32_t>(
                                                     ParseDecimal(pick, "--pick", kMostPicked))};
                if (step.spread.n == 0)
                    throw UsageError("--pick: at least 1: " + pick);
            }
            if (group > 0)
                continue;
            job.input = input;
            job.output = output;
            if (input.ends_with('\n'))
                throw UsageError("INPUT: a name that ends with a line break has no recipe");
            job.numbered = variantsGiven->count() != 0;
            if (job.numbered) {
                job.variants = static_cast<std::uint32_t>(ParseDecimal(variants, "--variants"));
                if (job.variants == 0 || job.variants > kMostVariants)
                    throw UsageError("--variants: from 1 to 100000: " + variants);
                if (output.find("{seed}") == std::string::npos &&
                    output.find("{n}") == std::string::npos)
                    throw UsageError("--output: holds neither {seed} nor {n} for the variants: " +
                                     output);
            }
            // Every seed of the batch is at most 4294967295.
            const std::uint32_t lastFirst =
                std::numeric_limits<std::uint32_t>::max() - (job.variants - 1);
            job.seed = seedGiven->count()
                           ? static_cast<std::uint32_t>(ParseDecimal(seed, "--seed"))
                           : std::uniform_int_distribution<std::uint32_t>(0, lastFirst)(
                                 *std::make_unique<std::random_device>());
            if (job.seed > lastFirst)
                throw UsageError("--variants: the last seed would be past 4294967295");
            if (drawGiven->count())
                job.draw = ParseDecimal(draw, "--draw", std::numeric_limits<std::uint64_t>::max());
            if (crcGiven->count())
                job.expectedCrc = ParseHex(crc, 0xFFFFFFFF, "--expect-crc32");
            job.force = force;
            job.json = json;
        }
        return Run(job, out, err);
    } catch (const UsageError& error) {
        err << kProgram << ": " << Shown(error.what()) << "; see " << kProgram
            << (corrupt->parsed()        ? " corrupt"
                : partsCommand->parsed() ? " parts"
                                         : "")
            << " --help\n";
        return 2;
    } catch (const Failure& error) {
        err << kProgram << ": " << Shown(error.what()) << '\n';
        return 1;
    }
}

} // namespace glitchwerk
