// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "cli/play_command.h"
#include "engine/crc32.h"
#include "tests/play/with_helper.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#ifndef _WIN32
#include <png.h>
#endif

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using PlayCommand = testing::WithHelper;
using ContactSheet = testing::WithHelper;
using RealCores = testing::WithHelper;
using Json = nlohmann::json;

struct Ran {
    int status;
    std::string out, err;
};

Ran Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

Bytes TestRom(std::string_view marker) {
    Bytes rom(64, 0x11);
    std::copy(marker.begin(), marker.end(), rom.begin());
    rom[4] = 1;
    return rom;
}

#ifndef _WIN32
// The PNG's pixels, R, G, B.
Bytes PngPixels(const fs::path& path, std::uint32_t& width, std::uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Bytes pixels;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        image.format = PNG_FORMAT_RGB;
        pixels.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
            pixels.clear();
    }
    width = image.width;
    height = image.height;
    return pixels;
}
#endif

TEST_F(PlayCommand, WritesFrameNAsPngAndSaysSoInJson) {
    const testing::TempDir dir;
    testing::WriteFile(dir / "game.gwt", TestRom("DRAW"));
    const Ran ran = Cli({"play", (dir / "game.gwt").string(), "-o", (dir / "frame.png").string(),
                         "--frames", "7", "--core", GLITCHWERK_TEST_CORE, "--json"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const Json json = Json::parse(ran.out);
    EXPECT_EQ(json["outcome"], "ran");
    EXPECT_EQ(json["frames"], 7);
    EXPECT_EQ(std::pair(json["width"], json["height"]), std::pair(Json(32), Json(16)));
    EXPECT_EQ(json["core"], GLITCHWERK_TEST_CORE);
#ifndef _WIN32
    std::uint32_t width = 0, height = 0;
    const Bytes pixels = PngPixels(dir / "frame.png", width, height);
    ASSERT_EQ(pixels.size(), 32u * 16 * 3);
    EXPECT_EQ(pixels[2], 7) << "frame 7, the last one";
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", Crc32(0, pixels.data(), pixels.size()));
    EXPECT_EQ(json["frame_crc32"], crc);
#else
    EXPECT_EQ(testing::ReadFile(dir / "frame.png").at(1), 'P');
#endif
}

TEST_F(PlayCommand, AFileWithoutAFrameExitsOneWithItsLineAndLeavesNothing) {
    struct Row {
        const char* marker;
        const char* name;
        const char* line;
        const char* outcome;
    };
    const Row rows[] = {
        {"DRAW", "game.unknown-kind", "no core takes ", "no core"},
        {"NOPE", "game.gwt", "the core refused ", "refused"},
        {"CRSH", "game.gwt", "the core crashed on ", "crashed"},
        {"HANG", "game.gwt", "the core did not answer within 1.01 s", "hung"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.marker);
        const testing::TempDir dir;
        const std::string game = (dir / row.name).string();
        testing::WriteFile(game, TestRom(row.marker));
        std::vector<std::string> args = {"play",     game, "-o",    (dir / "frame.png").string(),
                                         "--frames", "1",  "--json"};
        if (std::string_view(row.marker) != "DRAW")
            args.insert(args.end(), {"--core", GLITCHWERK_TEST_CORE});
        const Ran ran = Cli(args);
        EXPECT_EQ(ran.status, 1);
        EXPECT_EQ(ran.err.find(std::string("glitchwerk-cli: ") + row.line), 0u) << ran.err;
        const Json json = Json::parse(ran.out);
        EXPECT_EQ(json["outcome"], row.outcome);
        EXPECT_TRUE(json["width"].is_null() && json["frame_crc32"].is_null());
        EXPECT_EQ(json["core"].is_null(), std::string_view(row.marker) == "DRAW");
        EXPECT_FALSE(fs::exists(dir / "frame.png"));
    }
}

TEST_F(PlayCommand, OutPngFollowsTheRulesOfCorrupt) {
    const testing::TempDir dir;
    const std::string game = (dir / "game.gwt").string(), png = (dir / "frame.png").string();
    testing::WriteFile(game, TestRom("DRAW"));
    testing::WriteFile(png, {1});
    fs::create_directory(dir / "folder");
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Row rows[] = {
        {{"-o", png}, 1, "exists (--force replaces it)"},
        {{"-o", game, "--force"}, 1, "is the input file"},
        {{"-o", (dir / "folder").string(), "--force"}, 1, "is no plain file"},
        {{"-o", png, "--frames", "0"}, 2, "--frames"},
        {{"-o", png, "--frames", "0x10"}, 2, "--frames"},
        {{"-o", png, "--frames", "36001"}, 2, "--frames"},
        {{"--frames", "3"}, 2, "--output is missing"},
        {{"-o", png, "-o", png}, 2, "given twice"},
        {{"-o", png, "--force"}, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        std::vector<std::string> args = {"play", game, "--core", GLITCHWERK_TEST_CORE};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Ran ran = Cli(args);
        EXPECT_EQ(ran.status, row.status);
        EXPECT_NE(ran.err.find(row.says), std::string::npos) << ran.err;
        EXPECT_EQ(testing::ReadFile(game), TestRom("DRAW"));
        EXPECT_EQ(testing::ReadFile(png).size() > 1, row.status == 0);
    }
}

TEST_F(ContactSheet, OneLabelledCellPerVariantWhateverItsOutcome) {
    const testing::TempDir dir;
    std::vector<SheetVariant> variants;
    for (const char* marker : {"DRAW", "CRSH", "NOPE"}) {
        variants.push_back({(dir / (std::string(marker) + ".gwt")).string(),
                            static_cast<std::uint32_t>(variants.size() + 41)});
        testing::WriteFile(variants.back().file, TestRom(marker));
    }
    SheetRequest request{(dir / "sheet.png").string(), (dir / "DRAW.gwt").string(), 2,
                         GLITCHWERK_TEST_CORE};
    request.json = true;
    std::ostringstream out, err;
    ASSERT_EQ(WriteContactSheet(variants, request, out, err), 0) << err.str();
    const Json json = Json::parse(out.str());
    ASSERT_EQ(json["cells"].size(), 3u);
    EXPECT_EQ(json["cells"][1]["seed"], 42);
    EXPECT_EQ(json["cells"][1]["outcome"], "crashed");
    EXPECT_EQ(json["cells"][2]["outcome"], "refused");
#ifndef _WIN32
    // Two columns of cells as wide as "SEED 43 REFUSED", two rows.
    std::uint32_t width = 0, height = 0;
    const Bytes pixels = PngPixels(dir / "sheet.png", width, height);
    EXPECT_EQ(std::pair(width, height), std::pair(4 + 2 * (94u + 4), 4 + 2 * (16u + 11 + 4)));
    const auto lit = std::count_if(pixels.begin(), pixels.end(), [](auto c) { return c > 0xA0; });
    EXPECT_GT(lit, 3 * 60) << "no labels";
#endif
    // Never over a variant or the input, --force or not.
    request.force = true;
    for (const std::string& taken : {variants[1].file, request.input}) {
        request.sheet = taken;
        EXPECT_EQ(WriteContactSheet(variants, request, out, err), 1);
    }
    EXPECT_EQ(testing::ReadFile(variants[1].file), TestRom("CRSH"));
}

// cc65's hello sample in Debian's nestopia, where scripts/fetch-libretro.sh unpacked it.
TEST_F(RealCores, HelloPlaysOneFrameAgainAndAnotherOnceItsChrIsBent) {
#ifdef _WIN32
    GTEST_SKIP() << "Debian's cores are Linux libraries";
#endif
    const fs::path nestopia = fs::path(GLITCHWERK_LIBRETRO_ROOT) /
                              "usr/lib/x86_64-linux-gnu/libretro/nestopia_libretro.so";
    const testing::TempDir dir;
    const std::string hello = (dir / "hello.nes").string();
    if (!fs::exists(nestopia) ||
        std::system(("cl65 -t nes -o " + hello + " /usr/share/cc65/samples/hello.c").c_str()) != 0)
        GTEST_SKIP() << "needs cc65 and nestopia (scripts/fetch-libretro.sh)";
    const auto frame = [&](const std::string& rom) {
        const Ran ran = Cli({"play", rom, "-o", (dir / "frame.png").string(), "--force", "--core",
                             nestopia.string(), "--json"});
        EXPECT_EQ(ran.status, 0) << ran.err;
        return Json::parse(ran.out)["frame_crc32"];
    };
    const Json first = frame(hello);
    EXPECT_EQ(frame(hello), first);
    ASSERT_EQ(Cli({"corrupt", hello, "-o", (dir / "bent.nes").string(), "--range", "chr",
                   "--search-all", "--set", "FF", "--every", "5"})
                  .status,
              0);
    EXPECT_NE(frame((dir / "bent.nes").string()), first);
}

} // namespace
} // namespace glitchwerk
