// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include "engine/backup_store.h"
#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"
#include "engine/file_stream.h"

#include <CLI/CLI.hpp>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

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

// Strict, unlike the dialog's fields: an optional 0x, one to eight hexadecimal
// digits and nothing else, at most `largest`.
std::uint32_t ParseHex(std::string_view text, std::uint32_t largest, const std::string& option) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    const auto isDigit = [](unsigned char c) { return std::isxdigit(c) != 0; };
    if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), isDigit))
        throw UsageError(option + ": not hexadecimal: " + std::string(text));
    const std::uint32_t value = ParseHexField(digits);
    if (value > largest)
        throw UsageError(option + ": above " + Hex(largest) + ": " + std::string(text));
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

std::uint32_t ParseDecimal(const std::string& text, const std::string& option) {
    const auto isDigit = [](unsigned char c) { return std::isdigit(c) != 0; };
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), isDigit) ||
        std::stoull(text) > std::numeric_limits<std::uint32_t>::max())
        throw UsageError(option + ": not a decimal number from 0 to 4294967295: " + text);
    return static_cast<std::uint32_t>(std::stoull(text));
}

// A name that no program takes for an option.
std::string AsArgument(const std::string& path) {
    return path.starts_with('-') ? "./" + path : path;
}

// A word that a POSIX shell reads back as it is.
std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// The length of the UTF-8 sequence at `at`, or 0 where the bytes are none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const std::size_t length = byte(0) < 0x80       ? 1
                               : byte(0) >> 5 == 6  ? 2
                               : byte(0) >> 4 == 14 ? 3
                               : byte(0) >> 3 == 30 ? 4
                                                    : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(i) >> 6 != 2)
            return 0;
    }
    return length;
}

// A JSON string; a byte of a file name that is no UTF-8 (JSON's only
// encoding) becomes U+FFFD, the replacement character.
std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const std::size_t length = Utf8Length(text, at);
        if (c == '"' || c == '\\')
            json += '\\';
        if (length == 0)
            json += "\\ufffd";
        else if (static_cast<unsigned char>(c) < 0x20)
            json += "\\u00" + Hex(static_cast<unsigned char>(c), "%02X");
        else
            json.append(text, at, length);
        at += length ? length : 1;
    }
    return json + "\"";
}

// The rule's options, as a recipe gives them.
std::string RuleWords(const ByteRule& rule) {
    using enum SearchMode;
    using enum ReplaceMode;
    std::string words =
        rule.searchMode == SearchSpecificByte ? " --search-byte " + Hex(rule.searchValue)
        : rule.searchMode == SearchByteRange
            ? " --search-range " + Hex(rule.searchValue) + ":" + Hex(rule.searchHigh)
            : " --search-all";
    const char* option = rule.replaceMode == ReplaceSpecificByte ? " --set "
                         : rule.replaceMode == ReplaceIncreaseBy ? " --add "
                         : rule.replaceMode == ReplaceDecreaseBy ? " --subtract "
                                                                 : nullptr;
    return words + (option ? option + Hex(rule.replaceValue) : " --random");
}

// One corruption, as the command line gave it.
struct Job {
    fs::path input;
    std::string output; // with {seed} or {n} when there are variants
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    ByteRule rule{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
    std::uint32_t seed = 0;
    std::uint32_t variants = 1;
    std::optional<std::uint32_t> expectedCrc;
    bool force = false;
    bool json = false;
    bool numbered = false; // --variants given: {seed} and {n} in `output` are filled in
};

// The CRC-32 of the whole file, the one ROM catalogues list.
std::uint32_t Crc32(std::FILE* file, const fs::path& name) {
    std::vector<unsigned char> block(1 << 16);
    uLong crc = crc32(0, nullptr, 0);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0)
        crc = crc32(crc, block.data(), static_cast<uInt>(got));
    if (std::ferror(file))
        throw Failure("cannot read " + name.string() + ": " + std::strerror(errno));
    return static_cast<std::uint32_t>(crc);
}

std::string OutputName(std::string pattern, std::uint32_t seed, std::uint32_t n) {
    for (const auto& [field, value] : {std::pair{std::string("{seed}"), std::to_string(seed)},
                                       std::pair{std::string("{n}"), std::to_string(n)}}) {
        for (auto at = pattern.find(field); at != std::string::npos; at = pattern.find(field, at))
            pattern.replace(at, field.size(), value);
    }
    return pattern;
}

// Refuses an output that is the input itself, or exists without --force.
void CheckOutput(const Job& job, const FileId& inputId, const fs::path& output) {
    FileHandle existing = OpenFile(output, OpenHow::Reading);
    FileFacts facts;
    if (existing && ReadFacts(existing.get(), facts) && facts.id == inputId)
        throw Failure(output.string() + " is the input file");
    if (existing && !job.force)
        throw Failure(output.string() + " exists (--force replaces it)");
}

// Writes the corrupted copy into a new file beside `output`, which takes the
// name `output` only once it is complete and on the disk: a failure leaves no
// part of an output behind. The input must still have the times `read` when
// its CRC-32 was taken (null where times cannot be read), so that the recipe
// gives this copy again.
CorruptionResult MakeOutput(const Job& job, std::FILE* input, const FileFacts& facts,
                            const FileTimes* read, const fs::path& output, std::uint32_t seed) {
    CheckOutput(job, facts.id, output); // again: another program may have been quicker
    std::random_device random;
    fs::path partial;
    FileHandle copy;
    OpenFailure failure = OpenFailure::Exists;
    for (int tries = 0; !copy && failure == OpenFailure::Exists && tries < 100; ++tries) {
        partial = output.parent_path() / (".glitchwerk-" + Hex(random(), "%08X") + ".partial");
        copy = OpenFile(partial, OpenHow::New, &failure, 0666);
    }
    if (!copy)
        throw Failure("cannot create " + partial.string() + ": " + std::strerror(errno));

    SeedRandomGenerator(seed);
    CorruptionResult result{};
    const auto length = static_cast<std::uint32_t>(facts.length);
    const CorruptionRequest request{partial, job.start, job.end, length, job.rule};
    bool done = CopyWhole(input, copy.get(), length, 1 << 16);
    FileTimes now;
    const bool changed = read && (!ReadTimes(input, now) || now != *read);
    done = done && !changed &&
           RunCorruptionPass(copy.get(), request, result) == PassOutcome::Done &&
           FlushToDisk(copy.get());
    int error = errno;
    done = CloseStream(copy) && done;
    bool existed = false;
    if (done && job.force) {
        std::error_code renameError;
        fs::rename(partial, output, renameError);
        done = !renameError;
        error = renameError.value();
    } else if (done) {
        done = RenameWithoutReplacing(partial, output, existed);
        error = errno;
    }
    if (!done) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        if (changed)
            throw Failure(job.input.string() + " changed while it was read");
        throw Failure(existed ? output.string() + " appeared meanwhile (--force replaces it)"
                              : "cannot write " + output.string() + ": " + std::strerror(error));
    }
    return result;
}

int Run(const Job& job, std::ostream& out) {
    FileHandle input = OpenFile(job.input, OpenHow::Reading);
    FileFacts facts;
    if (!input || !ReadFacts(input.get(), facts))
        throw Failure("cannot read " + job.input.string() + ": " + std::strerror(errno));
    if (!facts.regular)
        throw Failure(job.input.string() + " is not a plain file");
    if (facts.length > kLargestFile)
        throw Failure(job.input.string() + " is 2 GiB or more");
    FileTimes times;
    const FileTimes* read = ReadTimes(input.get(), times) ? &times : nullptr;
    const std::uint32_t crc = Crc32(input.get(), job.input);
    if (job.expectedCrc && *job.expectedCrc != crc) {
        throw Failure(job.input.string() + " has the CRC-32 " + Hex(crc, "%08X") + ", not " +
                      Hex(*job.expectedCrc, "%08X"));
    }
    const auto outputName = [&](std::uint32_t n) {
        return job.numbered ? OutputName(job.output, job.seed + (n - 1), n) : job.output;
    };
    for (std::uint32_t n = 1; n <= job.variants; ++n) // before any is written
        CheckOutput(job, facts.id, outputName(n));
    for (std::uint32_t n = 1; n <= job.variants; ++n) {
        const std::uint32_t seed = job.seed + (n - 1);
        const std::string output = outputName(n);
        const CorruptionResult result = MakeOutput(job, input.get(), facts, read, output, seed);
        const std::string recipe = std::string(kProgram) + " corrupt " +
                                   ShellWord(AsArgument(job.input.string())) + " -o " +
                                   ShellWord(output) + " --range " + Hex(job.start) + ":" +
                                   Hex(job.end) + RuleWords(job.rule) + " --seed " +
                                   std::to_string(seed) + " --expect-crc32 " + Hex(crc, "%08X");
        const auto offset = [&](std::int32_t at) {
            return result.totalBytes ? Hex(static_cast<std::uint32_t>(at)) : std::string();
        };
        if (job.json) {
            const auto hexOrNull = [&](std::int32_t at) {
                return result.totalBytes ? JsonString(offset(at)) : std::string("null");
            };
            out << "{\"output\": " << JsonString(output) << ", \"seed\": " << seed
                << ", \"crc32\": \"" << Hex(crc, "%08X") << "\", \"hits\": " << result.totalBytes
                << ", \"first\": " << hexOrNull(result.firstByte)
                << ", \"last\": " << hexOrNull(result.lastByte)
                << ", \"recipe\": " << JsonString(recipe) << "}\n";
        } else {
            out << output << ": " << result.totalBytes
                << (result.totalBytes == 1 ? " byte hit" : " bytes hit");
            if (result.totalBytes)
                out << ", first " << offset(result.firstByte) << ", last "
                    << offset(result.lastByte);
            out << "; recipe: " << recipe << '\n';
        }
        // The line is the only record of a random seed: it must not get lost.
        if (!out.flush())
            throw Failure("cannot print what was made: " + output + " has no recipe");
    }
    return 0;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app{"Corrupts chosen bytes of a copy of a file, so that the same command makes the "
                 "same copy again.",
                 kProgram};
    app.set_version_flag("--version", std::string(kProgram) + " " + GLITCHWERK_VERSION);
    app.require_subcommand(1);
    CLI::App* corrupt =
        app.add_subcommand("corrupt", "Write a corrupted copy of INPUT to OUTPUT; INPUT is never "
                                      "changed. Values and offsets are hexadecimal.");
    std::string input, output, range, searchByte, searchRange, set, add, subtract;
    std::string seed, variants, crc;
    bool searchAll = false, random = false, force = false, json = false;
    corrupt->add_option("INPUT", input, "The file to corrupt")->required()->type_name("");
    corrupt->add_option("-o,--output", output, "The copy; with --variants it holds {seed} or {n}")
        ->required()
        ->type_name("OUTPUT");
    corrupt->add_option("--range", range, "The offsets to corrupt, END left out")
        ->required()
        ->type_name("START:END");
    CLI::Option_group* search = corrupt->add_option_group("search", "Which bytes (default: all)");
    const CLI::Option* byteGiven =
        search->add_option("--search-byte", searchByte, "Bytes of value V")->type_name("V");
    const CLI::Option* rangeGiven =
        search->add_option("--search-range", searchRange, "Bytes from LOW up to HIGH, left out")
            ->type_name("LOW:HIGH");
    search->add_flag("--search-all", searchAll, "Every byte")->disable_flag_override();
    search->require_option(0, 1);
    CLI::Option_group* replace = corrupt->add_option_group("replace", "What a hit byte becomes");
    const CLI::Option* given[] = {
        replace->add_option("--set", set, "The value V")->type_name("V"),
        replace->add_option("--add", add, "Itself plus N, at most FF")->type_name("N"),
        replace->add_option("--subtract", subtract, "Itself minus N, at least 00")->type_name("N"),
    };
    replace->add_flag("--random", random, "A random byte, from the seed")->disable_flag_override();
    replace->require_option(1);
    const CLI::Option* seedGiven =
        corrupt->add_option("--seed", seed, "Decimal, 0 to 4294967295 (default: a random one)")
            ->type_name("N");
    const CLI::Option* variantsGiven =
        corrupt->add_option("--variants", variants, "Make K copies, from consecutive seeds")
            ->type_name("K");
    const CLI::Option* crcGiven =
        corrupt->add_option("--expect-crc32", crc, "Refuse an INPUT with another CRC-32")
            ->type_name("CRC");
    corrupt->add_flag("--force", force, "Replace OUTPUT if it exists")->disable_flag_override();
    corrupt->add_flag("--json", json, "Print one JSON object per copy")->disable_flag_override();
    try {
        std::vector<char*> argv{const_cast<char*>(kProgram)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error, out, err); // --help, --version
        err << kProgram << ": " << error.what() << '\n';
        return 2;
    }

    try {
        Job job;
        job.input = input;
        job.output = output;
        std::tie(job.start, job.end) = ParseHexPair(range, 0xFFFFFFFF, "--range");
        if (byteGiven->count()) {
            job.rule.searchMode = SearchMode::SearchSpecificByte;
            job.rule.searchValue =
                static_cast<std::uint8_t>(ParseHex(searchByte, 0xFF, "--search-byte"));
        } else if (rangeGiven->count()) {
            const auto [low, high] = ParseHexPair(searchRange, 0xFF, "--search-range");
            job.rule.searchMode = SearchMode::SearchByteRange;
            job.rule.searchValue = static_cast<std::uint8_t>(low);
            job.rule.searchHigh = static_cast<std::uint8_t>(high);
        }
        const std::string* values[] = {&set, &add, &subtract};
        const ReplaceMode modes[] = {ReplaceMode::ReplaceSpecificByte,
                                     ReplaceMode::ReplaceIncreaseBy,
                                     ReplaceMode::ReplaceDecreaseBy};
        for (std::size_t i = 0; i < std::size(given); ++i) {
            if (!given[i]->count())
                continue;
            const std::string option = given[i]->get_name();
            job.rule.replaceMode = modes[i];
            job.rule.replaceValue = static_cast<std::uint8_t>(ParseHex(*values[i], 0xFF, option));
        }
        job.seed = seedGiven->count() ? ParseDecimal(seed, "--seed") : std::random_device{}();
        job.numbered = variantsGiven->count() != 0;
        if (job.numbered) {
            job.variants = ParseDecimal(variants, "--variants");
            if (job.variants == 0 || job.seed + std::uint64_t{job.variants} - 1 >
                                         std::numeric_limits<std::uint32_t>::max())
                throw UsageError("--variants: from 1 up to the last seed, 4294967295: " + variants);
            if (output.find("{seed}") == std::string::npos &&
                output.find("{n}") == std::string::npos)
                throw UsageError("--output: holds neither {seed} nor {n} for the variants: " +
                                 output);
        }
        if (crcGiven->count())
            job.expectedCrc = ParseHex(crc, 0xFFFFFFFF, "--expect-crc32");
        job.force = force;
        job.json = json;
        return Run(job, out);
    } catch (const UsageError& error) {
        err << kProgram << ": " << error.what() << '\n';
        return 2;
    } catch (const Failure& error) {
        err << kProgram << ": " << error.what() << '\n';
        return 1;
    }
}

} // namespace glitchwerk
