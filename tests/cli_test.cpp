// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace glitchwerk {
namespace {

using namespace testing; // TempDir and the file helpers
namespace fs = std::filesystem;

// A run of the program in the current folder: its exit status, what it printed.
struct Cli {
    int status;
    std::string out, err;
    explicit Cli(const std::vector<std::string>& args) {
        std::ostringstream outText, errText;
        status = RunCli(args, outText, errText);
        out = outText.str();
        err = errText.str();
    }
};

// The words a POSIX shell makes of a recipe (quoted with '...' and \').
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\'')
            quoted = !quoted;
        else if (line[i] == ' ' && !quoted)
            words.emplace_back();
        else
            words.back() += line[i] == '\\' && !quoted ? line[++i] : line[i];
    }
    return {words.begin() + 1, words.end()}; // after the program's name
}

// A random corruption, replayed from the recipe it printed, gives the same file.
TEST(Cli, RecipesMakeTheSameCopyAgain) {
    const TempDir dir(true);
    WriteFile("-it's.nes", CountingBytes(0x20000)); // an option's dash, a shell's quote
    const Cli first({"corrupt", "-o", "a.nes", "--range", "0x10:18010", "--search-range", "20:80",
                     "--random", "--", "-it's.nes"});
    ASSERT_EQ(first.status, 0) << first.err;
    fs::rename("a.nes", "first.nes");
    const auto at = first.out.find("recipe: ") + 8;
    const std::vector<std::string> recipe = Words(first.out.substr(at, first.out.size() - at - 1));
    const Cli again(recipe);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile("a.nes"), ReadFile("first.nes"));
}

// Wrong arguments (2) and failures (1) write nothing; nor does a full disk.
TEST(Cli, RefusalsAndFailuresWriteNothing) {
    const TempDir dir(true);
    WriteFile("game.nes", CountingBytes(300));
    WriteFile("taken.nes", {});
    const std::vector<std::string> copy = {"corrupt", "game.nes", "-o",
                                           "out.nes", "--range",  "0:100"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), copy.begin(), copy.end());
        return more;
    };
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {with({"--random", "--search-byte", "1G"}), 2, "--search-byte: not hexadecimal: 1G"},
        {with({"--set", "100"}), 2, "--set: above FF: 100"},
        {{"corrupt", "game.nes", "-o", "out.nes", "--random"}, 2, "--range is required"},
        {with({"--random", "--variants", "3"}), 2, "--output: holds neither {seed} nor {n}"},
        {with({"--random", "--expect-crc32", "1234ABCD"}), 1, "not 1234ABCD"},
        {with({"--random", "--expect-crc32", ""}), 2, "--expect-crc32: not hexadecimal"},
        {with({"--random=false", "--set", "1"}), 2, "disallowed flag override"},
        {{"corrupt", "game.nes", "-o", "taken.nes", "--range", "0:1", "--random"},
         1,
         "taken.nes exists (--force replaces it)"},
        {{"corrupt", "game.nes", "-o", "game.nes", "--range", "0:1", "--random", "--force"},
         1,
         "game.nes is the input file"},
    };
    for (const auto& [args, status, message] : cases) {
        SCOPED_TRACE(message);
        const Cli cli(args);
        EXPECT_EQ(cli.status, status);
        EXPECT_NE(cli.err.find(message), std::string::npos) << cli.err;
        EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 2);
    }
    EXPECT_EQ(ReadFile("game.nes"), CountingBytes(300));
#ifndef _WIN32
    const Cli full = OnAFullDisk(100, [&] { return Cli(with({"--random"})); });
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write out.nes"), std::string::npos) << full.err;
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 2);
#endif
}

TEST(Cli, VariantsFromConsecutiveSeedsInJson) {
    const TempDir dir(true);
    WriteFile("game.nes", CountingBytes(300));
    const Cli cli({"corrupt", "game.nes", "-o", "{n}-{seed}.nes", "--range", "0:12C",
                   "--search-byte", "0x7", "--add", "1", "--seed", "41", "--variants", "2",
                   "--json"});
    ASSERT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out.substr(0, cli.out.find('\n')),
              "{\"output\": \"1-41.nes\", \"seed\": 41, \"crc32\": \"3ABCFCEE\", \"hits\": 2, "
              "\"first\": \"7\", \"last\": \"107\", \"recipe\": \"glitchwerk-cli corrupt "
              "'game.nes' -o '1-41.nes' --range 0:12C --search-byte 7 --add 1 --seed 41 "
              "--expect-crc32 3ABCFCEE\"}");
    EXPECT_NE(cli.out.find("\"seed\": 42"), std::string::npos);
    // JSON is UTF-8: a byte of a name that is none becomes U+FFFD.
    const Cli odd(
        {"corrupt", "game.nes", "-o", "\xff.nes", "--range", "0:1", "--set", "1", "--json"});
    EXPECT_NE(odd.out.find("{\"output\": \"\\ufffd.nes\""), std::string::npos) << odd.out;
    Bytes expected = CountingBytes(300);
    expected[7] = expected[0x107] = 8;
    EXPECT_EQ(ReadFile("1-41.nes"), expected);
    EXPECT_EQ(ReadFile("2-42.nes"), expected);
}

} // namespace
} // namespace glitchwerk
