// SPDX-License-Identifier: MIT
// The try loop's own cost: from the end of a Corrupt to its first frame in
// hand (the file read, loaded into the running glitchwerk-play, one frame
// run and back), against a bare host started afresh on the same ROM (its
// start, load, one frame and end).

#include "bench/figures.h"

#include "play/play_client.h"

#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

namespace glitchwerk::bench {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void PlayAfterCorrupt(benchmark::State& state, const PlayedRom& rom) {
    play::Session session;
    play::Frame frame;
    const std::uint16_t one[] = {0};
    std::mt19937 random(25);
    std::vector<std::uint8_t> bytes = Read(rom.file);
    const std::size_t size = bytes.size();
    for (auto _ : state) {
        state.PauseTiming(); // the Corrupt: a few bytes of the ROM's data set at random
        bytes = Read(rom.file);
        for (int i = 0; i < 4; ++i)
            bytes[rom.from + random() % (size - rom.from)] = static_cast<std::uint8_t>(random());
        std::ofstream(rom.file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
        state.ResumeTiming();
        const std::vector<std::uint8_t> tried = Read(rom.file);
        if (!session.Load(rom.core, tried, rom.file.filename().string()).ok() ||
            !session.Frames(one, frame).ok()) {
            state.SkipWithError("the try did not run");
            break;
        }
        benchmark::DoNotOptimize(frame.rgb.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void BareHost(benchmark::State& state, const PlayedRom& rom) {
    const std::string host = GLITCHWERK_BARE_HOST, core = rom.core.string(),
                      file = rom.file.string();
    const char* argv[] = {host.c_str(), core.c_str(), file.c_str(), nullptr};
    for (auto _ : state) {
        pid_t child = 0;
        int status = 1;
        if (posix_spawn(&child, host.c_str(), nullptr, nullptr, const_cast<char* const*>(argv),
                        environ) != 0 ||
            waitpid(child, &status, 0) != child || status != 0) {
            state.SkipWithError("the bare host failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
}

} // namespace

void AddPlayBenchmarks(const std::vector<PlayedRom>& roms) {
    for (const PlayedRom& rom : roms) {
        const std::string floor = "bare host, " + rom.name;
        AddFigure(floor, "", Target::None, [rom](benchmark::State& state) { BareHost(state, rom); })
            ->UseRealTime()
            ->Repetitions(9);
        AddFigure("Corrupt to frame, " + rom.name, floor, Target::WithinHalfAgain,
                  [rom](benchmark::State& state) { PlayAfterCorrupt(state, rom); })
            ->UseRealTime()
            ->Repetitions(9);
    }
}

} // namespace glitchwerk::bench
