// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>
#include <thread>

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

// An iNES ROM of 300 bytes: its header, then counting bytes.
Bytes Rom() {
    Bytes rom = CountingBytes(300);
    std::copy_n("NES\x1A", 4, rom.begin());
    return rom;
}

#ifndef _WIN32
// The words a POSIX shell makes of a recipe, after the program's name.
std::vector<std::string> Words(const std::string& recipe) {
    const std::string command = "printf '%s\\0' " + recipe.substr(recipe.find(' ') + 1);
    std::FILE* shell = ::popen(command.c_str(), "r");
    std::vector<std::string> words(1);
    for (int c = 0; (c = std::fgetc(shell)) != EOF;)
        c ? void(words.back() += static_cast<char>(c)) : void(words.emplace_back());
    ::pclose(shell);
    words.pop_back();
    return words;
}

// A random corruption of two steps, replayed by the shell from the recipe it printed and from the
// fields of its JSON, gives the same file again, over the first with --force; no control character
// of a name reaches the terminal raw.
TEST(Cli, RecipesMakeTheSameCopyAgain) {
    const TempDir dir(true);
    const std::string input = "-it's\x1b[1m\nx\x7f.nes"; // an option's dash, a shell's quote
    WriteFile(input, CountingBytes(0x20000));
    const Cli first({"corrupt",        "-o",     "a\n.nes",  "--range", "0x10:18010",
                     "--search-range", "20:80",  "--xor=5A", "--draw",  "9",
                     "--json",         "--",     input,      "--then",  "--range",
                     "100:1F000",      "--pick", "900",      "--add",   "3"});
    ASSERT_EQ(first.status, 0) << first.err;
    const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    EXPECT_EQ(std::count_if(first.out.begin(), first.out.end(), control), 1); // the line's end
    const Bytes copy = ReadFile("a\n.nes");
    const auto json = nlohmann::json::parse(first.out);
    std::vector<std::string> fields{"corrupt",           "./" + input, "-o",
                                    "a\n.nes",           "--force",    "--seed",
                                    json["seed"].dump(), "--draw",     json["draw"].dump()};
    std::string steps;
    for (const auto& step : json["steps"]) {
        steps += " --then --range";
        for (const char* key : {"range", "search", "replace", "spread"})
            steps.append(" ").append(step[key].get<std::string>());
    }
    std::istringstream words(steps.substr(std::strlen(" --then")));
    fields.insert(fields.end(), std::istream_iterator<std::string>(words), {});
    std::vector<std::string> recipe = Words(json["recipe"]);
    recipe.insert(recipe.begin() + 1, "--force");
    for (const auto& args : {recipe, fields}) {
        WriteFile("a\n.nes", {});
        const Cli again(args);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(ReadFile("a\n.nes"), copy);
    }
}
#endif

// Wrong arguments (2) and failures (1) write nothing; nor does a full disk.
TEST(Cli, RefusalsAndFailuresWriteNothing) {
    const TempDir dir(true);
    WriteFile("game.nes", Rom());
    fs::permissions("game.nes", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile("2.nes", {});
    fs::create_directory("folder");
    const auto run = [](const std::string& words) { // after "corrupt game.nes -o"
        std::istringstream line(words.empty() ? "" : "corrupt game.nes -o " + words);
        return Cli({std::istream_iterator<std::string>(line), {}});
    };
    const std::tuple<const char*, int, const char*> cases[] = {
        {"", 2, "no command given; see glitchwerk-cli --help"},
        {"out.nes --range 0:1 --search-byte 1G --random", 2, "--search-byte: not hexadecimal: 1G"},
        {"out.nes --range 0:1 --set 100", 2, "--set: too large (at most FF): 100"},
        {"out.nes --range 0:1 --random --expect-crc32 FFFFFFFFF", 2, "--expect-crc32: too large"},
        {"out.nes --range 0:1 --random --expect-crc32 0x", 2, "--expect-crc32: not hexadecimal"},
        {"out.nes --range 0:1 --random --range 0:1", 2, "--range: given twice"},
        {"out.nes --random", 2, "--range is missing; see glitchwerk-cli corrupt --help"},
        {"out.nes --range 100:100 --random", 2, "--range: START is not below END"},
        {"out.nes --range chx --random", 2, "a part of game.nes (its parts: header, trainer): chx"},
        {"out.nes --range 12C:200 --random", 1, "end of game.nes (its size is 12C)"},
        {"out.nes --range 0:1 --random --variants 3", 2, "--output: holds neither {seed} nor {n}"},
        {"{n}.nes --range 0:1 --random --variants 100001", 2, "--variants: from 1 to 100000"},
        {"{n}.nes --range 0:1 --random --variants 2 --seed 4294967295", 2, "the last seed would"},
        {"{n}.nes --range 0:1 --random --variants 2", 1, "2.nes exists"},
        {"out.nes --range 0:1 --random --expect-crc32 1234ABCD", 1,
         "game.nes has the CRC-32 B91E5A63 (79942C62 without its iNES header), not 1234ABCD. If "
         "Glitchwerk is editing it, Restore it there first."},
        {"out.nes --range 0:1 --random --expect-crc32 79942C62", 0, ""},
        {"out.nes --range 0:10 --search-byte FF --set 0", 0, "no byte of out.nes was hit"},
        {"out.nes --range 0:1 --random=false --set 1", 2, "--random: takes no value"},
        {"out.nes --range 0:1 --set 1 --every 0", 2, "--every: at least 1: 0"},
        {"out.nes --range 0:1 --set 1 --pick 1000001", 2, "--pick: too large (at most 1000000)"},
        {"out.nes --range 0:1 --random --draw 1x", 2, "--draw: not a decimal number: 1x"},
        {"out.nes --range 0:1 --random --then --range 1:2 --set 1 --seed 4", 2,
         "--seed: before the first --then only"},
        {"out.nes --range 0:1 --random --then", 2, "--then: no step follows"},
        {"out.nes --range 0:1 --random --then --set 1", 2, "--range is missing after --then"},
        {"out.nes --range 0:1 --random --then --range 12C:200 --set 1", 1, "--range starts at 12C"},
        {"2.nes --range 0:1 --random", 1, "2.nes exists (--force replaces it)"},
        {"game.nes --range 0:1 --random --force", 1, "game.nes is the input file"},
        {"folder --range 0:1 --random --force", 1, "folder is no plain file"},
        {"no\x1b/out.nes --range 0:1 --random", 1, "cannot create no\\033/out.nes: "},
        {"out.nes --range 0:1 --search-byte 1 --shift -1", 2, "--shift: over the range as a whole"},
        {"out.nes --range 0:1 --every 2 --reverse 4", 2, "--reverse: over the range as a whole"},
        {"out.nes --range 0:1 --pick 1 --shuffle 4", 2, "--shuffle: over the range as a whole"},
        {"out.nes --range 0:1 --search-range 0:1 --smooth 2", 2, "--smooth: over the range as a"},
        {"out.nes --range 0:1 --search-all --every 1 --swap 65536", 0, ""},
        {"out.nes --range 0:1 --swap 65537", 2, "--swap: from 1 to 65536: 65537"},
        {"out.nes --range 0:1 --shift 2147483648", 2, "--shift: from -2147483647 to 2147483647"},
        {"out.nes --range 0:1 --rotate-left 8", 2, "--rotate-left: from 1 to 7: 8"},
        {"out.nes --range 0:1 --tilt 0", 2, "--tilt: at least 1: 0"},
        {"out.nes --range 0:1 --xor 1 --flip-bit", 2, "--xor and --flip-bit: choose one"},
        {"out.nes --range 0:1 --random --keep chx", 2, "--keep: not a part of game.nes (its"},
        {"out.nes --range 0:1 --random --then --range 1:2 --set 1 --mend", 2, "--mend: before the"},
        {"out.nes --range 0:1 --random --recipe r.json", 2, "--range: not beside --recipe"},
        {"out.nes --recipe nothing.json", 1, "cannot read nothing.json: "},
    };
    for (const auto& [words, status, message] : cases) {
        SCOPED_TRACE(words);
        const Cli cli = run(words);
        EXPECT_EQ(cli.status, status);
        EXPECT_NE(cli.err.find(message), std::string::npos) << cli.err;
        EXPECT_TRUE(status != 2 || cli.err.ends_with(" --help\n")) << cli.err;
        EXPECT_EQ(cli.err.find(": Success"), std::string::npos); // a cause taken elsewhere
#ifndef _WIN32 // a copy is no more readable than its input
        EXPECT_TRUE(status || (fs::status("out.nes").permissions() & fs::perms::mask) ==
                                  (fs::perms::owner_read | fs::perms::owner_write));
#endif
        EXPECT_TRUE(status || fs::remove("out.nes"));
        EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 3);
    }
    EXPECT_EQ(ReadFile("game.nes"), Rom());
#ifndef _WIN32
    const Cli full = OnAFullDisk(100, [&] { return run("out.nes --range 0:100 --random"); });
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write out.nes: " + ErrnoText(EFBIG)), std::string::npos)
        << full.err;
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 3);

    // An input written to while copies are made: their CRC-32 would not be the recipe's.
    WriteFile("game.nes", CountingBytes(1 << 16));
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        std::fstream file("game.nes", std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint32_t n = 0; !stop; ++n)
            file.seekp(0).write(reinterpret_cast<const char*>(&n), sizeof n).flush();
    });
    const Cli changed = run("folder/{n}.nes --range 0:1 --random --variants 50");
    stop = true;
    writer.join();
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.err.find("game.nes changed while it was read"), std::string::npos);
#endif
}

TEST(Cli, VariantsFromConsecutiveSeedsInJson) {
    const TempDir dir(true);
    WriteFile("game.nes", Rom());
    const Cli cli({"corrupt", "game.nes", "-o", "{n}-{seed}.nes", "--range", "0:12C",
                   "--search-byte", "0x7", "--add", "1", "--seed", "41", "--variants", "2",
                   "--json"});
    ASSERT_EQ(cli.status, 0) << cli.err;
#ifdef _WIN32
    const std::string q = R"(\")"; // names in cmd.exe's quotes
#else
    const std::string q = "'";
#endif
    EXPECT_EQ(
        cli.out.substr(0, cli.out.find('\n')),
        R"({"input":"game.nes","output":"1-41.nes","seed":41,"draw":0,"crc32":"B91E5A63",)"
        R"("crc32_without_header":"79942C62","size":300,"hits":2,"first":"7","last":"107",)"
        R"("steps":[{"range":"0:12C","search":"--search-byte 7","replace":"--add 1","spread":)"
        R"("","hits":2,"first":"7","last":"107"}],"keep":[],"mend":false,"mended":[],)"
        R"("recipe":"glitchwerk-cli corrupt )" +
            q + "game.nes" + q + " -o " + q + "1-41.nes" + q +
            R"( --range 0:12C --search-byte 7 --add 1 --expect-crc32 B91E5A63"})");
    Bytes expected = Rom();
    expected[7] = expected[0x107] = 8;
    EXPECT_EQ(ReadFile("1-41.nes"), expected);
    EXPECT_EQ(ReadFile("2-42.nes"), expected);
#ifndef _WIN32
    // JSON is UTF-8: a byte of a name that is none becomes U+FFFD, and that
    // recipe no longer replays.
    const Cli odd(
        {"corrupt", "game.nes", "-o", "\x1b\xff.nes", "--range", "0:1", "--set", "1", "--json"});
    EXPECT_NE(odd.out.find(R"("output":"\u001b\ufffd.nes")"), std::string::npos) << odd.out;
    EXPECT_NE(odd.out.find(R"(-o \"$(printf '\\033')\"'\ufffd.nes')"), std::string::npos);
#endif
}

// The JSON that --json printed replays the copy, its names the defaults; the chain is its alone.
TEST(Cli, RecipeFilesReplayTheirCopy) {
    const TempDir dir(true);
    WriteFile("game.nes", Rom());
    const Cli first({"corrupt", "game.nes", "-o",      "a.nes",  "--range", "10:12C", "--pick",
                     "30",      "--tilt",   "9",       "--draw", "5",       "--keep", "header",
                     "--json",  "--then",   "--range", "0:100",  "--swap",  "7"});
    ASSERT_EQ(first.status, 0) << first.err;
    WriteFile("a.json", Bytes(first.out.begin(), first.out.end()));
    const Bytes copy = ReadFile("a.nes");
    for (const auto& args : {std::vector<std::string>{"corrupt", "--recipe", "a.json", "--force"},
                             {"corrupt", "game.nes", "--recipe", "a.json", "-o", "b.nes"}}) {
        const Cli again(args);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(ReadFile(args.size() == 4 ? "a.nes" : "b.nes"), copy);
    }
    EXPECT_NE(Cli({"corrupt", "--recipe", "a.json", "--draw", "5"}).err.find("--draw: not beside"),
              std::string::npos);
}

// A part's name as the range: its offsets go into the recipe, which replays.
TEST(Cli, PartsOfAFileAndRangesByName) {
    const TempDir dir(true);
    Bytes rom = CountingBytes(0x6015);
    std::copy_n("NES\x1A\x01\x01\x00\x00", 8, rom.begin());
    WriteFile("game.nes", rom);
    EXPECT_EQ(Cli({"parts", "game.nes"}).out, "header                0:10  16 bytes\n"
                                              "prg                10:4010  16384 bytes\n"
                                              "chr              4010:6010  8192 bytes\n"
                                              "rest             6010:6015  5 bytes\n");
    EXPECT_NE(Cli({"parts", "--json", "game.nes"})
                  .out.find(R"({"name":"chr","start":"4010","end":"6010","size":8192})"),
              std::string::npos);
    const Cli cli({"corrupt", "game.nes", "-o", "a.nes", "--range", "chr", "--random"});
    ASSERT_EQ(cli.status, 0) << cli.err;
    EXPECT_NE(cli.out.find(" 8192 bytes hit in chr"), std::string::npos) << cli.out;
    std::istringstream recipe(cli.out.substr(cli.out.find("recipe: ") + 23));
    std::vector<std::string> words{std::istream_iterator<std::string>(recipe), {}};
    EXPECT_EQ(words.at(5), "4010:6010"); // after corrupt 'game.nes' -o 'a.nes' --range
    words[1] = "game.nes";
    words[3] = "b.nes";
    const Cli again(words);
    ASSERT_EQ(again.status, 0) << again.err;
    Bytes copy = ReadFile("a.nes");
    EXPECT_EQ(ReadFile("b.nes"), copy);
    std::copy_n(rom.begin() + 0x4010, 0x2000, copy.begin() + 0x4010);
    EXPECT_EQ(copy, rom); // nothing changed outside the CHR
    EXPECT_NE(Cli({"corrupt", "game.nes", "-o", "c.nes", "--range", "chr", "--set", "0", "--json"})
                  .out.find(R"(,"part":"chr"})"),
              std::string::npos);
}

} // namespace
} // namespace glitchwerk
