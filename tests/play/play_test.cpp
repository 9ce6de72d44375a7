// SPDX-License-Identifier: MIT
#include "play/core_choice.h"
#include "play/play_client.h"
#include "tests/play/with_helper.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include <fstream>

#ifdef __linux__
#include <unistd.h>
#endif

namespace glitchwerk::play {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using PlayHelper = testing::WithHelper;
using Clock = std::chrono::steady_clock;

// The test core's ROM: a marker, the pixel format, then the pixels from offset 8.
Bytes Rom(std::string_view marker, std::uint8_t format, const Bytes& pixels = {}) {
    Bytes rom(8 + pixels.size());
    std::copy(marker.begin(), marker.end(), rom.begin());
    rom[4] = format;
    std::copy(pixels.begin(), pixels.end(), rom.begin() + 8);
    return rom;
}

std::array<std::uint8_t, 3> Pixel(const Frame& frame, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* at = frame.rgb.data() + (std::size_t{y} * frame.width + x) * 3;
    return {at[0], at[1], at[2]};
}

#ifdef __linux__
// Children of this process, zombies included.
int Children() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        char state = 0;
        long parent = 0;
        rest >> state >> parent;
        count += parent == getpid();
    }
    return count;
}
#endif

Result RunRom(Session& session, const Bytes& rom, Frame& frame,
              const char* core = GLITCHWERK_TEST_CORE) {
    return Play(session, core, rom, "test.gwt", 1, frame);
}

TEST(CoreChoice, ByTheKindElseByTheOneCoreThatClaimsTheExtension) {
#ifdef _WIN32
    const std::string suffix = "_libretro.dll";
#else
    const std::string suffix = "_libretro.so";
#endif
    const testing::TempDir dir;
    const CoreFolders folders{dir / "cores", dir / "info"};
    std::filesystem::create_directories(folders.cores);
    std::filesystem::create_directories(folders.info);
    const std::pair<const char*, const char*> cores[] = {
        {"nestopia", "nes|fds"},        {"gambatte", "gb|gbc|dmg"},  {"mgba", "gb|gbc|gba"},
        {"mednafen_vb", "vb|vboy|bin"}, {"picodrive", "md|bin|gen"}, {"fceumm", "unf"}};
    for (const auto& [name, extensions] : cores) {
        if (std::string_view(name) != "fceumm") // its info file alone
            testing::WriteFile(folders.cores / (name + suffix), {});
        std::ofstream(folders.info / (std::string(name) + "_libretro.info"))
            << "display_name = \"" << name << "\"\nsupported_extensions = \"" << extensions
            << "\"\n";
    }
    struct Row {
        FileKind kind;
        const char* file;
        const char* core;
    };
    const Row rows[] = {
        {FileKind::INes, "x.bin", "nestopia"},
        {FileKind::GameBoy, "x.gba", "gambatte"},
        {FileKind::Gba, "x", "mgba"},
        {FileKind::Other, "x.GBA", "mgba"},
        {FileKind::Other, "x.vboy", "mednafen_vb"},
        {FileKind::Other, "x.gb", ""},
        {FileKind::Other, "x.bin", ""},
        {FileKind::Other, "x.unf", ""},
        {FileKind::Snes, "x.sfc", ""},
        {FileKind::Other, "bin", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const auto core = ChooseCore(row.kind, row.file, folders);
        EXPECT_EQ(core ? CoreName(*core) : "", row.core);
    }
}

TEST_F(PlayHelper, DrawsTheRomInEachPixelFormat) {
    struct Row {
        std::uint8_t format;
        Bytes pixel;
        std::array<std::uint8_t, 3> rgb;
    };
    const Row rows[] = {
        {0, {0xFF, 0x7F}, {255, 255, 255}}, {0, {0x00, 0x80}, {0, 0, 0}},
        {0, {0x00, 0x7C}, {255, 0, 0}},     {0, {0x21, 0x00}, {0, 8, 8}},
        {2, {0x00, 0xF8}, {255, 0, 0}},     {2, {0xE0, 0x07}, {0, 255, 0}},
        {2, {0x21, 0x08}, {8, 4, 8}},       {1, {0x56, 0x34, 0x12, 0xFF}, {0x12, 0x34, 0x56}},
    };
    Session session;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.pixel));
        Frame frame;
        const Result result = RunRom(session, Rom("DRAW", row.format, row.pixel), frame);
        ASSERT_EQ(result.outcome, Outcome::Ran) << result.detail;
        ASSERT_EQ(std::pair(frame.width, frame.height), std::pair(32u, 16u));
        EXPECT_EQ(Pixel(frame, 0, 1), row.rgb);
        EXPECT_EQ(Pixel(frame, 1, 1), (std::array<std::uint8_t, 3>{}));
        EXPECT_NE(Pixel(frame, 2, 0), (std::array<std::uint8_t, 3>{}))
            << "an option without its default";
    }
}

TEST_F(PlayHelper, RunsEachFrameWithItsJoypadAndGivesTheLast) {
    Session session;
    Frame frame;
    ASSERT_TRUE(session.Load(GLITCHWERK_TEST_CORE, Rom("DRAW", 1), "test.gwt").ok());
    const std::uint16_t first[] = {kStart, kA, kA | kStart};
    ASSERT_TRUE(session.Frames(first, frame).ok());
    EXPECT_EQ(Pixel(frame, 0, 0)[2], 3); // runs since the load
    EXPECT_EQ(Pixel(frame, 1, 0), (std::array<std::uint8_t, 3>{0, 1, 8}));
    const std::uint16_t second[] = {0, kLeft};
    ASSERT_TRUE(session.Frames(second, frame).ok());
    EXPECT_EQ(Pixel(frame, 0, 0)[2], 5);
    EXPECT_EQ(Pixel(frame, 1, 0)[2], kLeft);
    ASSERT_TRUE(RunRom(session, Rom("DRAW", 1), frame).ok());
    EXPECT_EQ(Pixel(frame, 0, 0)[2], 1) << "a load starts from power-on";
}

TEST_F(PlayHelper, ACoreThatNeedsAPathReadsAPrivateCopy) {
    Session session;
    Frame frame;
    ASSERT_TRUE(RunRom(session, Rom("DRAW", 1, {9, 8, 7}), frame, GLITCHWERK_TEST_PATH_CORE).ok());
    EXPECT_EQ(Pixel(frame, 4, 0)[2], 1);
    EXPECT_EQ(Pixel(frame, 0, 1), (std::array<std::uint8_t, 3>{7, 8, 9}));
}

TEST_F(PlayHelper, EndsAHelperThatHangsOrEndsAndStartsAFreshOne) {
    struct Row {
        const char* marker;
        Outcome outcome;
    };
    const Row rows[] = {{"HNGL", Outcome::Hung},    {"HANG", Outcome::Hung},
                        {"CRSH", Outcome::Crashed}, {"ABRT", Outcome::Crashed},
                        {"EXIT", Outcome::Crashed}, {"NOPE", Outcome::Refused}};
    SessionOptions options;
    options.deadlines.load = 1500ms;
    // Under the sanitizers a crash takes its report first.
#ifdef GLITCHWERK_PLAY_SANITIZED
    options.deadlines.frames = 3000ms;
#else
    options.deadlines.frames = 300ms;
#endif
    Session session(options);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.marker);
        Frame frame;
        const auto start = Clock::now();
        const Result result = RunRom(session, Rom(row.marker, 0), frame);
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_LT(Clock::now() - start, options.deadlines.frames + 3s);
        if (row.outcome == Outcome::Hung) {
            EXPECT_EQ(result.missed, row.marker[3] == 'L' ? options.deadlines.load
                                                          : options.deadlines.frames + 10ms);
        }
#ifdef __linux__
        if (row.outcome != Outcome::Refused) {
            EXPECT_EQ(Children(), 0);
        }
#endif
        EXPECT_TRUE(RunRom(session, Rom("DRAW", 0), frame).ok());
    }
}

TEST_F(PlayHelper, TheCoresOutputGoesToTheLogNotTheChannel) {
    Session session;
    Frame frame;
    ASSERT_TRUE(RunRom(session, Rom("SAID", 1, {1, 2, 3}), frame).ok());
    EXPECT_EQ(Pixel(frame, 0, 1), (std::array<std::uint8_t, 3>{3, 2, 1}));
    EXPECT_NE(session.Log().find("said on stdout"), std::string::npos);
}

TEST_F(PlayHelper, AFreshHelperAfterItsLoads) {
    SessionOptions options;
    options.loadsPerHelper = 2;
    Session session(options);
    Frame frame;
    ASSERT_TRUE(RunRom(session, Rom("SAID", 0), frame).ok());
    ASSERT_TRUE(RunRom(session, Rom("DRAW", 0), frame).ok());
    EXPECT_NE(session.Log(), "");
    ASSERT_TRUE(RunRom(session, Rom("DRAW", 0), frame).ok());
    EXPECT_EQ(session.Log(), "");
}

TEST_F(PlayHelper, StopFromAnotherThreadEndsARequest) {
    Session session;
    ASSERT_TRUE(session.Load(GLITCHWERK_TEST_CORE, Rom("HANG", 0), "test.gwt").ok());
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        session.Stop();
    });
    const auto start = Clock::now();
    Frame frame;
    const std::uint16_t one[] = {0};
    EXPECT_EQ(session.Frames(one, frame).outcome, Outcome::Stopped);
    EXPECT_LT(Clock::now() - start, 900ms);
    stopper.join();
    EXPECT_EQ(session.Frames(one, frame).outcome, Outcome::Failed);
    EXPECT_TRUE(RunRom(session, Rom("DRAW", 0), frame).ok());
}

#if defined(__linux__)
TEST_F(PlayHelper, HoldsTheCoreTo1GiB) {
#ifdef GLITCHWERK_PLAY_SANITIZED
    GTEST_SKIP() << "no memory cap under the sanitizers";
#endif
    Session session;
    Frame frame;
    ASSERT_TRUE(RunRom(session, Rom("GROW", 1), frame).ok());
    EXPECT_EQ(Pixel(frame, 3, 0)[2], 1) << "1.5 GiB allocated";
}
#endif

} // namespace
} // namespace glitchwerk::play
