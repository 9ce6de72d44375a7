// SPDX-License-Identifier: MIT
#include "engine/publish.h"
#include "engine/recipe.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace glitchwerk {
namespace {

using namespace testing; // TempDir and the file helpers
namespace fs = std::filesystem;

struct Draws {
    std::mt19937_64 random;
    std::uint64_t operator()(std::uint64_t low, std::uint64_t high) {
        return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
    }
};

// A step of any kind the grammar has, in the form its parser gives.
CorruptionStep RandomStep(Draws& draw) {
    CorruptionStep step{static_cast<std::uint32_t>(draw(0, 0xFFFFFFFE)),
                        0,
                        {SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0}};
    step.endOffset = static_cast<std::uint32_t>(draw(step.startOffset + 1, 0xFFFFFFFF));
    if (draw(0, 3) == 0) {
        step.rule.replaceMode = ReplaceMode::ReplaceSpecificByte;
        step.whole.kind = static_cast<WholeRule>(draw(1, 6));
        step.whole.value = step.whole.kind == WholeRule::Shift
                               ? static_cast<std::int64_t>(draw(0, 0xFFFFFFFE)) - 0x7FFFFFFF
                           : step.whole.kind == WholeRule::CopyFrom
                               ? static_cast<std::int64_t>(draw(0, 0xFFFFFFFF))
                               : static_cast<std::int64_t>(draw(1, kMostBlockBytes));
        return step;
    }
    ByteRule& rule = step.rule;
    rule.searchMode = static_cast<SearchMode>(draw(0, 2));
    rule.searchValue = rule.searchMode == SearchMode::SearchAllBytes ? 0 : draw(0, 255) & 0xFF;
    rule.searchHigh = rule.searchMode == SearchMode::SearchByteRange ? draw(0, 255) & 0xFF : 0;
    rule.replaceMode = static_cast<ReplaceMode>(draw(0, 7));
    rule.replaceValue =
        static_cast<std::uint8_t>(rule.replaceMode == ReplaceMode::ReplaceRotateLeft ? draw(1, 7)
                                  : rule.replaceMode == ReplaceMode::ReplaceTilt     ? draw(1, 255)
                                  : DrawsPerByte(rule.replaceMode)                   ? 0
                                                                   : draw(0, 255));
    const auto kind = static_cast<SpreadKind>(draw(0, 2));
    if (kind != SpreadKind::Every)
        step.spread = {kind, static_cast<std::uint32_t>(
                                 draw(1, kind == SpreadKind::Pick ? kMostPicked : 0xFFFFFFFF))};
    return step;
}

// A name of what shells and parsers stumble on; the POSIX text's may be no UTF-8.
std::string HostileName(Draws& draw, Shell shell, bool utf8) {
    const std::string pieces[] = {"a",     "'",       "\"",   "%",      "%PATH%", "$HOME",
                                  "$(id)", "`id`",    "\\",   "\\\"",   " ",      "*?[",
                                  "!^",    "&|;<>()", "-",    "\x1b[m", "\t\x7f", "\n",
                                  "\r",    "é",       "\xff", "{n}",    "--",     "\\\\\"%\\"};
    std::string name;
    for (auto n = draw(0, 5); n-- > 0;) {
        const std::string& piece = pieces[draw(0, std::size(pieces) - 1)];
        if ((piece == "\xff" && utf8) || (shell == Shell::Cmd && (piece == "\n" || piece == "\r")))
            continue; // no Windows name holds a line break
        name += piece;
    }
    return name;
}

Chain RandomChain(Draws& draw, Shell shell, bool utf8) {
    Chain chain{static_cast<std::uint32_t>(draw(0, 0xFFFFFFFF)),
                draw(0, 1) ? draw(0, ~0ULL) : 0,
                {},
                static_cast<std::uint32_t>(draw(0, 0xFFFFFFFF)),
                draw(0, 0x7FFFFFFF),
                {},
                draw(0, 1) == 1};
    for (auto n = draw(1, 4); n-- > 0;)
        chain.steps.push_back(RandomStep(draw));
    for (auto n = draw(0, 2); n-- > 0;)
        chain.keep.push_back(draw(0, 1) ? "header" : HostileName(draw, shell, utf8));
    return chain;
}

std::string AsArgument(const std::string& name) {
    return name.starts_with('-') ? "./" + name : name;
}

// Parse of write is the identity over what each form carries: the text all
// but the length (and the seed and draw of a chain that never draws), JSON all.
TEST(Recipe, ReadBackAsWrittenOverRandomChainsAndHostileNames) {
    Draws draw{std::mt19937_64(1796648064)};
    std::string error;
    for (int round = 0; round < 400; ++round) {
        for (const Shell shell : {Shell::Posix, Shell::Cmd}) {
            const Chain chain = RandomChain(draw, shell, false);
            const std::string input = HostileName(draw, shell, false);
            const std::string output = HostileName(draw, shell, false);
            const std::string text = RecipeText(chain, input, output, shell);
            SCOPED_TRACE(text);
            const auto read = ParseRecipe("\n " + text + " \r\n", error, shell);
            ASSERT_TRUE(read) << error;
            Chain carried = chain;
            carried.size = 0;
            if (!UsesStream(chain))
                carried.seed = 0, carried.draw = 0;
            EXPECT_EQ(read->chain, carried);
            EXPECT_EQ(
                std::tie(read->input, read->output, read->seedGiven, read->expectCrc),
                std::make_tuple(AsArgument(input), AsArgument(output), UsesStream(chain), true));
            for (const CorruptionStep& step : chain.steps)
                EXPECT_EQ(ParseStepText(StepText(step), error), step) << error;
        }
        const Chain chain = RandomChain(draw, Shell::Posix, true);
        const std::string input = HostileName(draw, Shell::Posix, true);
        const auto json = ParseRecipe(RecipeJson(chain, input, "o", {}), error);
        ASSERT_TRUE(json) << error;
        EXPECT_EQ(std::tie(json->chain, json->input, json->output),
                  std::make_tuple(chain, input, "o"));
    }
}

#ifndef _WIN32
// A real shell reads the words of a recipe as the parser does, printf and all.
TEST(Recipe, DashReadsTheWordsTheParserReads) {
    const TempDir dir(true);
    Draws draw{std::mt19937_64(4188)};
    for (int round = 0; round < 30; ++round) {
        const std::string text = RecipeText(RandomChain(draw, Shell::Posix, false),
                                            HostileName(draw, Shell::Posix, false),
                                            HostileName(draw, Shell::Posix, false), Shell::Posix);
        const std::string script = "printf '%s\\0' " + text.substr(text.find(' ') + 1);
        WriteFile("words.sh", Bytes(script.begin(), script.end()));
        std::FILE* shell = ::popen("dash words.sh", "r");
        std::vector<std::string> words(1);
        for (int c = 0; (c = std::fgetc(shell)) != EOF;)
            c ? void(words.back() += static_cast<char>(c)) : void(words.emplace_back());
        ASSERT_EQ(::pclose(shell), 0) << text;
        words.pop_back();
        std::string error;
        EXPECT_EQ(ParseCorruptWords({words.begin() + 1, words.end()}, error),
                  ParseRecipe(text, error, Shell::Posix))
            << text;
    }
}
#endif

TEST(Recipe, RefusesWhatItsWriterNeverWrites) {
    const std::string json = R"({"output":"o","seed":1,"draw":0,"crc32":"0","keep":[],)"
                             R"("mend":false,"steps":[{"range":"0:1","search":"","replace":)"
                             R"("--random","spread":""}]})";
    const auto with = [&](const std::string& from, const std::string& to) {
        return std::string(json).replace(json.find(from), from.size(), to);
    };
    const std::string line = "glitchwerk-cli corrupt 'a' -o o --range 0:1 --random";
    const std::tuple<Shell, std::string, const char*> cases[] = {
        {Shell::Posix, "glitchwerk-cli corrupt $HOME -o o --range 0:1 --random", "$… that no"},
        {Shell::Posix, line + "'$(id)'$(id)", "$(…) that no recipe holds"},
        {Shell::Posix, line + " `id`", "a backquote"},
        {Shell::Posix, line + " \"$HOME\"", "a shell's syntax"},
        {Shell::Posix, line + " \"$(printf '\\033\\012')\"", "\\012')\""},
        {Shell::Posix, line + ";rm x", "a shell's syntax"},
        {Shell::Posix, line + "\nrm x", "\\012rm x"},
        {Shell::Posix, line + " --draw 'x", "a quote is never closed"},
        {Shell::Posix, "rm -rf x", "not a recipe"},
        {Shell::Posix, "glitchwerk-cli corrupt --recipe x", "not inside a recipe"},
        {Shell::Cmd, "glitchwerk-cli corrupt \"%PATH%\" -o o --range 0:1 --random", "%… that"},
        {Shell::Cmd, "glitchwerk-cli corrupt a&calc -o o --range 0:1 --random", "&calc"},
        {Shell::Cmd, "glitchwerk-cli corrupt \"a\\\"&calc\" -o o", "\\\"&calc"},
        {Shell::Cmd, "glitchwerk-cli corrupt \"a -o o --range 0:1 --random", "never closed"},
        {Shell::Posix, json + "x", "not JSON"},
        {Shell::Posix, with("\"seed\":1", "\"seed\":4294967297"), "\"seed\": not a whole"},
        {Shell::Posix, with("\"seed\":1", "\"seed\":1.0"), "\"seed\": not a whole number"},
        {Shell::Posix, with("\"seed\":1", "\"seed\":-1"), "\"seed\": not a whole number"},
        {Shell::Posix, with("\"draw\":0", "\"draw\":18446744073709551616"), "\"draw\": not a"},
        {Shell::Posix, with("\"seed\":1,", ""), "\"seed\" is missing"},
        {Shell::Posix, with("\"crc32\":\"0\"", "\"crc32\":0"), "\"crc32\": not a string"},
        {Shell::Posix, with("\"crc32\":\"0\"", "\"crc32\":\"0x\""), "--expect-crc32: not hex"},
        {Shell::Posix, with("\"mend\":false", "\"mend\":0"), "\"mend\": neither true"},
        {Shell::Posix, with("\"keep\":[]", "\"keep\":[1]"), "\"keep\": not a part's name"},
        {Shell::Posix, with("\"keep\":[]", "\"kept\":[]"), "\"kept\": no field of a recipe"},
        {Shell::Posix, with("--random", "--random --force"), "\"replace\": not one replace"},
        {Shell::Posix, with("\"search\":\"\"", "\"search\":\"--set 1\""), "not one search"},
        {Shell::Posix, with("--random", "--shuffle"), "\"replace\": not one replace option"},
        {Shell::Posix, with("--random", "--swap 0"), "--swap: from 1 to 65536: 0"},
        {Shell::Posix, with("\"spread\":\"\"", "\"spread\":\"--every 0\""), "--every: at least"},
        {Shell::Posix, with("\"range\":\"0:1\"", "\"range\":\"1:0\""), "START is not below"},
        {Shell::Posix, json.substr(0, json.find(",\"steps\"")) + "}", "no list of steps"},
    };
    std::string error;
    ASSERT_TRUE(ParseRecipe(json, error)) << error;
    for (const auto& [shell, text, why] : cases) {
        SCOPED_TRACE(text);
        error.clear();
        EXPECT_FALSE(ParseRecipe(text, error, shell));
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
}

// Private while written, in place only once whole, never over a file that was not looked at.
TEST(Publish, AFileAppearsWholeAndReplacesOnlyWhatWasLookedAt) {
    const TempDir dir(true);
    const auto plain = [](const char* name, const char* text) {
        WriteFile(name, Bytes(text, text + std::strlen(text)));
        return PlainFileAt(name);
    };
    // At the name: nothing, a file not looked at, the one looked at, one put there since, a link.
    enum Before { Nothing, Unlooked, Looked, Since, Link };
    const std::tuple<const char*, Before, bool, PublishResult, const char*> cases[] = {
        {"t", Nothing, true, PublishResult::Published, "new"},
        {"t", Unlooked, true, PublishResult::Taken, "old"},
        {"t", Looked, true, PublishResult::Published, "new"},
        {"t", Since, true, PublishResult::Taken, "other"},
        {"t", Nothing, false, PublishResult::Failed, nullptr},
        {"no/t", Nothing, true, PublishResult::Failed, nullptr},
        {"t", Link, true, PublishResult::Taken, "old"},
    };
#ifndef _WIN32
    const mode_t mask = ::umask(022);
#endif
    for (const auto& [name, before, writes, result, after] : cases) {
#ifdef _WIN32
        if (before == Link)
            continue; // links want rights most users lack
#endif
        std::optional<FileId> looked;
        if (before != Nothing)
            looked = plain(before == Link ? "u" : "t", "old");
        if (before == Unlooked)
            looked.reset();
        if (before == Since)
            plain("u", "other"), fs::rename("u", "t");
        if (before == Link)
            fs::create_symlink("u", "t");
        unsigned mode = 0600;
        const auto write = [&, writes = writes](std::FILE* file) {
            FileFacts facts;
            mode = ReadFacts(file, facts) ? facts.permissions : 0777;
            return writes && std::fputs("new", file) >= 0;
        };
        EXPECT_EQ(PublishFile({name, 0666, looked}, write), result) << LastFailure();
        EXPECT_TRUE(std::none_of(fs::directory_iterator("."), {}, [](const auto& entry) {
            return entry.path().filename().string().starts_with(".glitchwerk-");
        }));
        if (after)
            EXPECT_EQ(ReadFile(fs::exists("u") ? "u" : name),
                      Bytes(after, after + std::strlen(after)));
        else
            EXPECT_FALSE(fs::exists(name));
#ifndef _WIN32
        EXPECT_EQ(mode, 0600u);
        EXPECT_TRUE(result != PublishResult::Published ||
                    (fs::status(name).permissions() & fs::perms::mask) == fs::perms(0644));
#endif
        for (const char* made : {"t", "u"})
            fs::remove(made);
    }
#ifndef _WIN32
    ::umask(mask);
#endif
}

} // namespace
} // namespace glitchwerk
