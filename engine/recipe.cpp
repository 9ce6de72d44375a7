// SPDX-License-Identifier: MIT
#include "engine/recipe.h"

#include "engine/backup_store.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace glitchwerk {
namespace {

using Json = nlohmann::ordered_json; // keys in the order written

// Why words are no command, or a text no recipe; never leaves this file.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Hex(std::uint64_t value, const char* format = "%llX") {
    char text[20];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
    return text;
}

constexpr std::uint32_t kMostVariants = 100000;
constexpr std::uint64_t kMost32 = std::numeric_limits<std::uint32_t>::max();

// The options of `glitchwerk-cli corrupt`, in the order their mistakes are
// told. The replacements follow ReplaceMode, the whole-range rules WholeRule.
enum class Kind { Input, Run, Range, Search, Replace, Whole, Spread };
struct Option {
    std::string_view name;
    bool takesValue;
    Kind kind;
};
constexpr std::array kOptions = {
    Option{"INPUT", true, Kind::Input},          Option{"--output", true, Kind::Run},
    Option{"--seed", true, Kind::Run},           Option{"--draw", true, Kind::Run},
    Option{"--variants", true, Kind::Run},       Option{"--expect-crc32", true, Kind::Run},
    Option{"--force", false, Kind::Run},         Option{"--json", false, Kind::Run},
    Option{"--keep", true, Kind::Run},           Option{"--mend", false, Kind::Run},
    Option{"--recipe", true, Kind::Run},         Option{"--sheet", true, Kind::Run},
    Option{"--frames", true, Kind::Run},         Option{"--range", true, Kind::Range},
    Option{"--search-byte", true, Kind::Search}, Option{"--search-range", true, Kind::Search},
    Option{"--search-all", false, Kind::Search}, Option{"--set", true, Kind::Replace},
    Option{"--add", true, Kind::Replace},        Option{"--subtract", true, Kind::Replace},
    Option{"--random", false, Kind::Replace},    Option{"--xor", true, Kind::Replace},
    Option{"--flip-bit", false, Kind::Replace},  Option{"--rotate-left", true, Kind::Replace},
    Option{"--tilt", true, Kind::Replace},       Option{"--shift", true, Kind::Whole},
    Option{"--reverse", true, Kind::Whole},      Option{"--swap", true, Kind::Whole},
    Option{"--shuffle", true, Kind::Whole},      Option{"--copy-from", true, Kind::Whole},
    Option{"--smooth", true, Kind::Whole},       Option{"--every", true, Kind::Spread},
    Option{"--pick", true, Kind::Spread},
};
enum : std::size_t {
    kInput,
    kOutput,
    kSeed,
    kDraw,
    kVariants,
    kCrc,
    kForce,
    kJson,
    kKeep,
    kMend,
    kRecipe,
    kSheet,
    kFrames,
    kRange,
    kSearchByte,
    kSearchRange,
    kSearchAll,
    kFirstReplace,
    kFirstWhole = kFirstReplace + 8,
    kEvery = kFirstWhole + 6,
    kPick,
};
static_assert(kPick + 1 == kOptions.size());

// Which options take their value in hexadecimal (the rest in decimal).
constexpr bool IsHex(std::size_t option) {
    return option == kFirstReplace || option == kFirstReplace + 1 || option == kFirstReplace + 2 ||
           option == kFirstReplace + 4 || option == kFirstReplace + 7 || option == kFirstWhole + 4;
}

std::string NameOf(std::size_t option) {
    return std::string(kOptions[option].name);
}

std::size_t Find(std::string_view name) {
    for (std::size_t at = 1; at < kOptions.size(); ++at) {
        if (kOptions[at].name == name)
            return at;
    }
    return kInput; // none
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
        throw Refusal(option + ": too large (at most " + Hex(largest) + "): " + std::string(text));
    if (error != std::errc() || end != digits.data() + digits.size())
        throw Refusal(option + ": not hexadecimal: " + std::string(text));
    return value;
}

std::pair<std::uint32_t, std::uint32_t> ParseHexPair(const std::string& text, std::uint32_t largest,
                                                     const std::string& option) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        throw Refusal(option + ": not two values joined by ':': " + text);
    return {ParseHex(std::string_view(text).substr(0, colon), largest, option),
            ParseHex(std::string_view(text).substr(colon + 1), largest, option)};
}

std::uint64_t ParseDecimal(const std::string& text, const std::string& option,
                           std::uint64_t largest = kMost32) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range || (error == std::errc() && value > largest))
        throw Refusal(option + ": too large (at most " + std::to_string(largest) + "): " + text);
    if (error != std::errc() || end != text.data() + text.size())
        throw Refusal(option + ": not a decimal number: " + text);
    return value;
}

std::int64_t ParseSigned(const std::string& text, const std::string& option, std::int64_t most) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range || (error == std::errc() && value > most) ||
        (error == std::errc() && value < -most))
        throw Refusal(option + ": from -" + std::to_string(most) + " to " + std::to_string(most) +
                      ": " + text);
    if (error != std::errc() || end != text.data() + text.size())
        throw Refusal(option + ": not a decimal number: " + text);
    return value;
}

std::uint64_t Within(std::uint64_t value, std::uint64_t low, std::uint64_t high,
                     const std::string& option, const std::string& text) {
    if (value < low || value > high)
        throw Refusal(option + ": from " + std::to_string(low) + " to " + std::to_string(high) +
                      ": " + text);
    return value;
}

// The words of one step (and, before the first --then, of the run), each
// option's values in the order given.
using Given = std::array<std::vector<std::string>, kOptions.size()>;

Given Scan(const std::vector<std::string>& words) {
    Given given;
    std::string extra; // told once every value is read, like the other mistakes after it
    bool positional = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string name = words[i];
        std::optional<std::string> value;
        if (!positional && name == "--") {
            positional = true;
            continue;
        }
        if (positional || name.size() < 2 || name[0] != '-') {
            if (!given[kInput].empty() && extra.empty())
                extra = name;
            given[kInput].push_back(name);
            continue;
        }
        if (name[1] == 'o') { // -o OUTPUT, -oOUTPUT
            if (name.size() > 2)
                value = name.substr(2);
            name = "--output";
        } else if (const auto equals = name.find('='); name[1] == '-' && equals != name.npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        const std::size_t at = Find(name);
        if (at == kInput) {
            if (extra.empty())
                extra = words[i];
            continue;
        }
        if (!kOptions[at].takesValue && value)
            throw Refusal(name + ": takes no value");
        if (kOptions[at].takesValue && !value) {
            if (i + 1 == words.size())
                throw Refusal(name + ": needs a value");
            value = words[++i];
        }
        given[at].push_back(value.value_or(std::string()));
    }
    if (!extra.empty())
        throw Refusal("not understood: " + extra);
    return given;
}

// Of the options [from, to), the one given (kInput for none); two are refused.
std::size_t OneOf(const Given& given, std::size_t from, std::size_t to) {
    std::size_t chosen = kInput;
    for (std::size_t at = from; at < to; ++at) {
        if (given[at].empty())
            continue;
        if (chosen != kInput)
            throw Refusal(NameOf(chosen) + " and " + NameOf(at) + ": choose one");
        chosen = at;
    }
    return chosen;
}

CorruptionStep ReadStep(const Given& given, std::string& part) {
    CorruptionStep step{
        0, 0, {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0}};
    const std::string& range = given[kRange].front();
    if (range.find(':') == std::string::npos)
        part = range;
    else
        std::tie(step.startOffset, step.endOffset) = ParseHexPair(range, 0xFFFFFFFF, "--range");
    if (part.empty() && step.startOffset >= step.endOffset)
        throw Refusal("--range: START is not below END: " + range);

    const std::size_t search = OneOf(given, kSearchByte, kFirstReplace);
    if (search == kSearchByte) {
        step.rule.searchMode = SearchMode::SearchSpecificByte;
        step.rule.searchValue =
            static_cast<std::uint8_t>(ParseHex(given[search].front(), 0xFF, "--search-byte"));
    } else if (search == kSearchRange) {
        const auto [low, high] = ParseHexPair(given[search].front(), 0xFF, "--search-range");
        step.rule.searchMode = SearchMode::SearchByteRange;
        step.rule.searchValue = static_cast<std::uint8_t>(low);
        step.rule.searchHigh = static_cast<std::uint8_t>(high);
    }

    const std::size_t replace = OneOf(given, kFirstReplace, kEvery);
    if (replace == kInput)
        throw Refusal(
            "what hit bytes become is missing: --set, --add, --subtract, --random, --xor, "
            "--flip-bit, --rotate-left, --tilt, or over the range as a whole --shift, "
            "--reverse, --swap, --shuffle, --copy-from or --smooth");
    const std::string name = NameOf(replace);
    const std::string& value = kOptions[replace].takesValue ? given[replace].front() : name;
    if (replace < kFirstWhole) {
        step.rule.replaceMode = static_cast<ReplaceMode>(replace - kFirstReplace);
        if (step.rule.replaceMode == ReplaceMode::ReplaceRotateLeft)
            step.rule.replaceValue =
                static_cast<std::uint8_t>(Within(ParseDecimal(value, name), 1, 7, name, value));
        else if (kOptions[replace].takesValue)
            step.rule.replaceValue = static_cast<std::uint8_t>(ParseHex(value, 0xFF, name));
        if (step.rule.replaceMode == ReplaceMode::ReplaceTilt && step.rule.replaceValue == 0)
            throw Refusal("--tilt: at least 1: " + value);
    } else {
        step.rule = {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0};
        step.whole.kind = static_cast<WholeRule>(replace - kFirstWhole + 1);
        if (step.whole.kind == WholeRule::Shift)
            step.whole.value = ParseSigned(value, name, kLargestFile);
        else if (step.whole.kind == WholeRule::CopyFrom)
            step.whole.value = ParseHex(value, 0xFFFFFFFF, name);
        else
            step.whole.value = static_cast<std::int64_t>(
                Within(ParseDecimal(value, name), 1, kMostBlockBytes, name, value));
    }

    const std::size_t spread = OneOf(given, kEvery, kOptions.size());
    if (spread == kEvery) {
        const std::string& n = given[spread].front();
        step.spread = {SpreadKind::EveryNth,
                       static_cast<std::uint32_t>(ParseDecimal(n, "--every"))};
        if (step.spread.n == 0)
            throw Refusal("--every: at least 1: " + n);
    } else if (spread == kPick) {
        const std::string& k = given[spread].front();
        step.spread = {SpreadKind::Pick,
                       static_cast<std::uint32_t>(ParseDecimal(k, "--pick", kMostPicked))};
        if (step.spread.n == 0)
            throw Refusal("--pick: at least 1: " + k);
    }
    if (step.whole.kind != WholeRule::None) {
        // Every byte of the range is hit: a search or a sparse spread has nothing to choose.
        const std::size_t other = search != kInput && search != kSearchAll ? search
                                  : spread == kPick || step.spread.n > 1   ? spread
                                                                           : kInput;
        if (other != kInput)
            throw Refusal(name + ": over the range as a whole, not with " + NameOf(other));
        step.spread = {};
    }
    return step;
}

void ReadRunOptions(const Given& given, CorruptCommand& command) {
    if (!given[kInput].empty())
        command.input = given[kInput].front();
    command.output = given[kOutput].front();
    if (!given[kVariants].empty()) {
        const std::string& text = given[kVariants].front();
        command.variants = static_cast<std::uint32_t>(
            Within(ParseDecimal(text, "--variants"), 1, kMostVariants, "--variants", text));
        if (command.output.find("{seed}") == std::string::npos &&
            command.output.find("{n}") == std::string::npos)
            throw Refusal("--output: holds neither {seed} nor {n} for the variants: " +
                          command.output);
    }
    Chain& chain = command.chain;
    command.seedGiven = !given[kSeed].empty();
    if (command.seedGiven)
        chain.seed = static_cast<std::uint32_t>(ParseDecimal(given[kSeed].front(), "--seed"));
    // Every seed of the batch is at most 4294967295.
    if (command.seedGiven && chain.seed > kMost32 - (command.variants.value_or(1) - 1))
        throw Refusal("--variants: the last seed would be past 4294967295");
    if (!given[kDraw].empty())
        chain.draw =
            ParseDecimal(given[kDraw].front(), "--draw", std::numeric_limits<std::uint64_t>::max());
    command.expectCrc = !given[kCrc].empty();
    if (command.expectCrc)
        chain.crc32 = ParseHex(given[kCrc].front(), 0xFFFFFFFF, "--expect-crc32");
    chain.keep = given[kKeep];
    chain.mend = !given[kMend].empty();
    command.force = !given[kForce].empty();
    command.json = !given[kJson].empty();
    if (!given[kSheet].empty())
        command.sheet = given[kSheet].front();
    if (!given[kFrames].empty()) {
        const std::string& text = given[kFrames].front();
        command.frames = static_cast<std::uint32_t>(
            Within(ParseDecimal(text, "--frames"), 1, kMost32, "--frames", text));
        if (command.sheet.empty())
            throw Refusal("--frames: only with --sheet");
    }
}

// Where the words come from: a command line, a recipe's JSON (INPUT may be
// left to the caller), or a step alone.
enum class Form { Command, Json, Step };

CorruptCommand Parse(const std::vector<std::vector<std::string>>& groups, Form form) {
    CorruptCommand command;
    for (std::size_t group = 0; group < groups.size(); ++group) {
        if (group > 0 && groups[group].empty())
            throw Refusal("--then: no step follows");
        const Given given = Scan(groups[group]);
        const bool fromRecipe = !given[kRecipe].empty() && group == 0;
        for (std::size_t at = 0; at < kOptions.size(); ++at) {
            const bool run = kOptions[at].kind == Kind::Run || kOptions[at].kind == Kind::Input;
            if (given[at].size() > 1 && at != kKeep)
                throw Refusal(NameOf(at) + ": given twice");
            if (given[at].empty())
                continue;
            if (run && form == Form::Step)
                throw Refusal(NameOf(at) + ": not part of a step");
            if (run && group > 0)
                throw Refusal(NameOf(at) + ": before the first --then only");
            if (fromRecipe && at != kInput && at != kOutput && at != kForce && at != kJson &&
                at != kRecipe)
                throw Refusal(NameOf(at) + ": not beside --recipe, which gives the chain");
        }
        if (fromRecipe) {
            if (groups.size() > 1)
                throw Refusal("--then: not beside --recipe, which gives the chain");
            command.recipe = given[kRecipe].front();
            if (!given[kInput].empty())
                command.input = given[kInput].front();
            if (!given[kOutput].empty())
                command.output = given[kOutput].front();
            command.force = !given[kForce].empty();
            command.json = !given[kJson].empty();
            return command;
        }
        if (group == 0 && form == Form::Command && given[kInput].empty())
            throw Refusal("INPUT is missing");
        if (group == 0 && form != Form::Step && given[kOutput].empty())
            throw Refusal("--output is missing");
        if (given[kRange].empty())
            throw Refusal(group == 0 ? "--range is missing" : "--range is missing after --then");
        command.chain.steps.push_back(ReadStep(given, command.parts.emplace_back()));
        if (group == 0 && form != Form::Step)
            ReadRunOptions(given, command);
    }
    return command;
}

std::vector<std::vector<std::string>> SplitAtThen(const std::vector<std::string>& words) {
    std::vector<std::vector<std::string>> groups(1);
    for (const std::string& word : words) {
        if (word == "--then")
            groups.emplace_back();
        else
            groups.back().push_back(word);
    }
    return groups;
}

bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

std::string Octal(char c) {
    char text[5];
    std::snprintf(text, sizeof text, "\\%03o", static_cast<unsigned char>(c));
    return text;
}

// Characters a shell takes as they are outside quotes; POSIX shells a few more.
bool IsBare(char c, Shell shell) {
    const std::string_view more = shell == Shell::Posix ? "-_.:/+,=@%" : "-_.:/+";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           more.find(c) != std::string_view::npos;
}

// A word that a POSIX shell (dash included) reads back as it is. Control
// characters are rebuilt by printf, a line break together with the character
// after it, since the shell drops line breaks at the end of "$(...)"; line
// breaks that end the word stay as they are, inside the quotes.
std::string PosixWord(std::string_view text) {
    std::size_t trailing = text.size();
    while (trailing > 0 && text[trailing - 1] == '\n')
        --trailing;
    std::string word;
    bool quoted = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < trailing && IsControl(text[end]))
            ++end;
        if (end > at && text[end - 1] == '\n')
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

// A word that cmd.exe passes on, and the C runtime splits, as it is: in
// double quotes, the backslashes before a closing quote doubled; % outside
// them as ^% (cmd.exe expands it even inside), a quote as \^".
std::string CmdWord(std::string_view text) {
    std::string word;
    for (std::size_t at = 0;;) {
        const std::size_t end = std::min(text.find_first_of("%\"", at), text.size());
        if (end > at || text.empty()) {
            const std::string_view run = text.substr(at, end - at);
            const std::size_t last = run.find_last_not_of('\\');
            const std::size_t backslashes = last == run.npos ? run.size() : run.size() - last - 1;
            word.append("\"").append(run).append(backslashes, '\\').append("\"");
        }
        if (end == text.size())
            return word;
        word += text[end] == '%' ? "^%" : "\\^\"";
        at = end + 1;
    }
}

// What no shell is asked to do, shown with its control characters as codes.
[[noreturn]] void Unread(std::string_view rest) {
    const std::string what = rest.starts_with("$(") ? "$(…)"
                             : rest[0] == '$'       ? "$…"
                             : rest[0] == '`'       ? "a backquote"
                             : rest[0] == '%'       ? "%…"
                                                    : "a shell's syntax";
    std::string shown;
    for (const char c : rest.substr(0, 24))
        shown += IsControl(c) ? Octal(c) : std::string(1, c);
    throw Refusal(what + " that no recipe holds (a recipe is read, never run): " + shown);
}

std::vector<std::string> PosixWords(std::string_view text) {
    constexpr std::string_view kPrintf = "\"$(printf '";
    const auto octal = [&](std::size_t at) {
        return at + 4 <= text.size() && text[at] == '\\' && text[at + 1] >= '0' &&
               text[at + 1] <= '3' && text[at + 2] >= '0' && text[at + 2] <= '7' &&
               text[at + 3] >= '0' && text[at + 3] <= '7';
    };
    std::vector<std::string> words;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::string& word = words.emplace_back();
        while (at < text.size() && text[at] != ' ' && text[at] != '\t') {
            const std::string_view rest = text.substr(at);
            if (rest[0] == '\'') {
                const std::size_t close = rest.find('\'', 1);
                if (close == rest.npos)
                    throw Refusal("a quote is never closed: " + std::string(rest.substr(0, 24)));
                word += rest.substr(1, close - 1);
                at += close + 1;
            } else if (rest.starts_with("\\'")) {
                word += '\'';
                at += 2;
            } else if (rest.starts_with(kPrintf)) {
                const std::size_t start = word.size();
                for (at += kPrintf.size(); octal(at); at += 4)
                    word += static_cast<char>((text[at + 1] - '0') * 64 + (text[at + 2] - '0') * 8 +
                                              (text[at + 3] - '0'));
                // The shell would drop a line break at the end.
                if (word.size() == start || word.back() == '\n' ||
                    !text.substr(at).starts_with("')\""))
                    Unread(rest);
                at += 3;
            } else if (IsBare(rest[0], Shell::Posix)) {
                word += rest[0];
                ++at;
            } else {
                Unread(rest);
            }
        }
    }
    return words;
}

std::vector<std::string> CmdWords(std::string_view text) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::string& word = words.emplace_back();
        bool quoted = false;
        while (at < text.size() && (quoted || (text[at] != ' ' && text[at] != '\t'))) {
            const std::string_view rest = text.substr(at);
            if (rest[0] == '\\') {
                const std::size_t n = std::min(rest.find_first_not_of('\\'), rest.size());
                const std::string_view after = rest.substr(n);
                // cmd.exe and the C runtime must agree on every quote.
                if (after.starts_with("^\"") && !quoted && n % 2 == 1) {
                    word.append(n / 2, '\\').append("\"");
                    at += n + 2;
                } else if (after.starts_with("^\"") || (after.starts_with('"') && n % 2 == 1)) {
                    Unread(rest);
                } else {
                    word.append(after.starts_with('"') ? n / 2 : n, '\\');
                    at += n;
                }
            } else if (rest[0] == '"') {
                quoted = !quoted;
                ++at;
            } else if (!quoted && rest.starts_with("^%")) {
                word += '%';
                at += 2;
            } else if (rest[0] != '\n' && rest[0] != '\r' &&
                       (quoted ? rest[0] != '%' : IsBare(rest[0], Shell::Cmd))) {
                word += rest[0];
                ++at;
            } else {
                Unread(rest);
            }
        }
        if (quoted)
            throw Refusal("a quote is never closed");
    }
    return words;
}

// A name that no program takes for an option.
std::string AsArgument(std::string_view path) {
    return path.starts_with('-') ? "./" + std::string(path) : std::string(path);
}

// A word of the program's own (a part's name) as it is, when it needs no quotes.
std::string OwnWord(const std::string& word, Shell shell) {
    const bool bare =
        !word.empty() && std::ranges::all_of(word, [&](char c) { return IsBare(c, Shell::Cmd); });
    return bare ? word : ShellWord(word, shell);
}

const std::string& Text(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end())
        throw Refusal(std::string("\"") + key + "\" is missing");
    if (!found->is_string())
        throw Refusal(std::string("\"") + key + "\": not a string: " + found->dump());
    return found->get_ref<const std::string&>();
}

std::uint64_t Whole(const Json& object, const char* key, std::uint64_t largest) {
    const auto found = object.find(key);
    if (found == object.end())
        throw Refusal(std::string("\"") + key + "\" is missing");
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() > largest)
        throw Refusal(std::string("\"") + key + "\": not a whole number from 0 to " +
                      std::to_string(largest) + ": " + found->dump());
    return found->get<std::uint64_t>();
}

void OnlyKeys(const Json& object, std::initializer_list<std::string_view> keys) {
    for (const auto& item : object.items()) {
        if (std::ranges::find(keys, item.key()) == keys.end())
            throw Refusal("\"" + item.key() + "\": no field of a recipe");
    }
}

// A step's field, as words: one option of the kinds it stands for, with its value.
void AddField(std::vector<std::string>& words, const Json& step, const char* key,
              std::initializer_list<Kind> kinds) {
    const std::string& text = Text(step, key);
    if (text.empty())
        return;
    const std::size_t blank = text.find(' ');
    const std::size_t at = Find(std::string_view(text).substr(0, blank));
    const bool valued = blank != std::string::npos;
    if (at == kInput || std::ranges::find(kinds, kOptions[at].kind) == kinds.end() ||
        kOptions[at].takesValue != valued)
        throw Refusal(std::string("\"") + key + "\": not one " + key + " option: " + text);
    words.push_back(NameOf(at));
    if (valued)
        words.push_back(text.substr(blank + 1));
}

CorruptCommand FromJson(std::string_view text) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::parse_error& error) {
        const std::string why = error.what();
        throw Refusal("not JSON: " + why.substr(why.find("] ") + 2));
    }
    OnlyKeys(json, {"input", "output", "seed", "draw", "crc32", "crc32_without_header", "size",
                    "hits", "first", "last", "steps", "keep", "mend", "mended", "recipe", "part"});
    std::vector<std::vector<std::string>> groups(1);
    std::vector<std::string>& run = groups[0];
    run = {"--output=" + Text(json, "output"),
           "--seed",
           std::to_string(Whole(json, "seed", kMost32)),
           "--draw",
           std::to_string(Whole(json, "draw", std::numeric_limits<std::uint64_t>::max())),
           "--expect-crc32",
           Text(json, "crc32")};
    if (const auto keep = json.find("keep"); keep != json.end()) {
        if (!keep->is_array())
            throw Refusal("\"keep\": not a list: " + keep->dump());
        for (const Json& part : *keep) {
            if (!part.is_string())
                throw Refusal("\"keep\": not a part's name: " + part.dump());
            run.insert(run.end(), {"--keep", part.get<std::string>()});
        }
    }
    if (const auto mend = json.find("mend"); mend != json.end()) {
        if (!mend->is_boolean())
            throw Refusal("\"mend\": neither true nor false: " + mend->dump());
        if (mend->get<bool>())
            run.emplace_back("--mend");
    }
    const auto steps = json.find("steps");
    if (steps == json.end() || !steps->is_array())
        throw Refusal("\"steps\": no list of steps");
    for (std::size_t i = 0; i < steps->size(); ++i) {
        const Json& step = (*steps)[i];
        if (!step.is_object())
            throw Refusal("\"steps\": not a step: " + step.dump());
        OnlyKeys(step, {"range", "search", "replace", "spread", "hits", "first", "last", "part"});
        std::vector<std::string>& words = i ? groups.emplace_back() : groups[0];
        words.insert(words.end(), {"--range", Text(step, "range")});
        AddField(words, step, "search", {Kind::Search});
        AddField(words, step, "replace", {Kind::Replace, Kind::Whole});
        AddField(words, step, "spread", {Kind::Spread});
    }
    if (json.contains("input"))
        groups[0].insert(groups[0].end(), {"--", Text(json, "input")});
    CorruptCommand command = Parse(groups, Form::Json);
    if (json.contains("size"))
        command.chain.size = Whole(json, "size", std::numeric_limits<std::uint64_t>::max());
    return command;
}

CorruptCommand FromText(std::string_view text, Shell shell) {
    std::vector<std::string> words = shell == Shell::Posix ? PosixWords(text) : CmdWords(text);
    if (words.size() < 2 || words[0] != "glitchwerk-cli" || words[1] != "corrupt")
        throw Refusal("not a recipe: it starts otherwise than glitchwerk-cli corrupt");
    words.erase(words.begin(), words.begin() + 2);
    CorruptCommand command = Parse(SplitAtThen(words), Form::Command);
    if (!command.recipe.empty())
        throw Refusal("--recipe: not inside a recipe");
    return command;
}

} // namespace

bool UsesStream(const CorruptionStep& step) {
    return DrawsPerByte(step.rule.replaceMode) || step.spread.kind == SpreadKind::Pick ||
           step.whole.kind == WholeRule::Shuffle;
}

bool UsesStream(const Chain& chain) {
    return std::ranges::any_of(chain.steps, [](const CorruptionStep& s) { return UsesStream(s); });
}

std::optional<CorruptCommand> ParseCorruptWords(const std::vector<std::string>& words,
                                                std::string& error) {
    try {
        return Parse(SplitAtThen(words), Form::Command);
    } catch (const Refusal& refusal) {
        error = refusal.what();
        return std::nullopt;
    }
}

std::string ShellWord(std::string_view word, Shell shell) {
    return shell == Shell::Posix ? PosixWord(word) : CmdWord(word);
}

StepFields StepWords(const CorruptionStep& step) {
    const ByteRule& rule = step.rule;
    StepFields fields;
    fields.range = "--range " + Hex(step.startOffset) + ":" + Hex(step.endOffset);
    const auto valued = [](std::size_t option, std::int64_t value) {
        return NameOf(option) + (!kOptions[option].takesValue ? ""
                                 : IsHex(option) ? " " + Hex(static_cast<std::uint64_t>(value))
                                                 : " " + std::to_string(value));
    };
    if (step.whole.kind != WholeRule::None) {
        const auto kind = static_cast<std::size_t>(step.whole.kind);
        // One of no known kind is written so that no reader takes it.
        fields.replace = kind <= kEvery - kFirstWhole
                             ? valued(kFirstWhole + kind - 1, step.whole.value)
                             : "--whole-rule-" + std::to_string(kind);
        return fields;
    }
    fields.search = rule.searchMode == SearchMode::SearchSpecificByte
                        ? "--search-byte " + Hex(rule.searchValue)
                    : rule.searchMode == SearchMode::SearchByteRange
                        ? "--search-range " + Hex(rule.searchValue) + ":" + Hex(rule.searchHigh)
                        : "--search-all";
    const auto mode = static_cast<std::size_t>(rule.replaceMode);
    fields.replace = mode < kFirstWhole - kFirstReplace
                         ? valued(kFirstReplace + mode, rule.replaceValue)
                         : "--replace-rule-" + std::to_string(mode);
    if (step.spread.kind == SpreadKind::EveryNth)
        fields.spread = "--every " + std::to_string(step.spread.n);
    else if (step.spread.kind == SpreadKind::Pick)
        fields.spread = "--pick " + std::to_string(step.spread.n);
    return fields;
}

std::string StepText(const CorruptionStep& step) {
    const StepFields fields = StepWords(step);
    std::string text = fields.range;
    for (const std::string* field : {&fields.search, &fields.replace, &fields.spread}) {
        if (!field->empty())
            text += " " + *field;
    }
    return text;
}

std::optional<CorruptionStep> ParseStepText(std::string_view text, std::string& error) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t blank = std::min(text.find(' ', at), text.size());
        if (blank > at)
            words.emplace_back(text.substr(at, blank - at));
        at = blank + 1;
    }
    try {
        CorruptCommand command = Parse({words}, Form::Step);
        if (!command.parts.front().empty())
            throw Refusal("--range: not START:END: " + command.parts.front());
        return command.chain.steps.front();
    } catch (const Refusal& refusal) {
        error = refusal.what();
        return std::nullopt;
    }
}

std::string RecipeText(const Chain& chain, std::string_view input, std::string_view output,
                       Shell shell) {
    std::string text = "glitchwerk-cli corrupt " + ShellWord(AsArgument(input), shell) + " -o " +
                       ShellWord(AsArgument(output), shell);
    const bool random = UsesStream(chain);
    for (std::size_t i = 0; i <= chain.steps.size(); ++i) {
        if (i == 1 || chain.steps.empty()) {
            text += (random ? " --seed " + std::to_string(chain.seed) : "") +
                    (random && chain.draw ? " --draw " + std::to_string(chain.draw) : "") +
                    " --expect-crc32 " + Hex(chain.crc32, "%08llX");
            for (const std::string& part : chain.keep)
                text += " --keep " + OwnWord(part, shell);
            text += chain.mend ? " --mend" : "";
        }
        if (i < chain.steps.size())
            text += (i ? " --then " : " ") + StepText(chain.steps[i]);
    }
    return text;
}

std::string RecipeJson(const Chain& chain, std::string_view input, std::string_view output,
                       const RecipeOutcome& outcome) {
    // Over all steps: the hits, the lowest first and the highest last.
    CorruptionResult total{0, -1, -1};
    Json steps = Json::array();
    std::string named;
    const auto offset = [](const CorruptionResult& result, std::int32_t at) {
        return result.totalBytes ? Json(Hex(static_cast<std::uint32_t>(at))) : Json();
    };
    for (std::size_t i = 0; i < chain.steps.size(); ++i) {
        const StepFields fields = StepWords(chain.steps[i]);
        const CorruptionResult result =
            i < outcome.results.size() ? outcome.results[i] : CorruptionResult{0, -1, -1};
        total.totalBytes += result.totalBytes;
        if (result.totalBytes && (total.firstByte == -1 || result.firstByte < total.firstByte))
            total.firstByte = result.firstByte;
        total.lastByte = std::max(total.lastByte, result.lastByte);
        Json step = {{"range", fields.range.substr(std::string_view("--range ").size())},
                     {"search", fields.search},
                     {"replace", fields.replace},
                     {"spread", fields.spread},
                     {"hits", result.totalBytes},
                     {"first", offset(result, result.firstByte)},
                     {"last", offset(result, result.lastByte)}};
        if (i < outcome.parts.size() && !outcome.parts[i].empty()) {
            step["part"] = outcome.parts[i];
            named += (named.empty() ? "" : ", ") + outcome.parts[i];
        }
        steps.push_back(std::move(step));
    }
    Json line;
    if (!input.empty())
        line["input"] = std::string(input);
    line["output"] = std::string(output);
    line["seed"] = chain.seed;
    line["draw"] = chain.draw;
    line["crc32"] = Hex(chain.crc32, "%08llX");
    line["crc32_without_header"] =
        outcome.crc32Bare ? Json(Hex(*outcome.crc32Bare, "%08llX")) : Json();
    line["size"] = chain.size;
    line["hits"] = total.totalBytes;
    line["first"] = offset(total, total.firstByte);
    line["last"] = offset(total, total.lastByte);
    line["steps"] = std::move(steps);
    line["keep"] = chain.keep;
    line["mend"] = chain.mend;
    line["mended"] = outcome.mended;
    line["recipe"] = RecipeText(chain, input, output);
    if (!named.empty())
        line["part"] = named;
    // A name that is no UTF-8 (JSON's only encoding) gets U+FFFD.
    return line.dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::optional<CorruptCommand> ParseRecipe(std::string_view text, std::string& error, Shell shell) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    text = first == text.npos ? std::string_view() : text.substr(first);
    text = text.substr(0, text.find_last_not_of(" \t\r\n") + 1);
    try {
        return text.starts_with('{') ? FromJson(text) : FromText(text, shell);
    } catch (const Refusal& refusal) {
        error = refusal.what();
        return std::nullopt;
    }
}

} // namespace glitchwerk
