// SPDX-License-Identifier: MIT
#pragma once
// The benchmarks and the table they are reported in: every figure is measured
// in the same run as its floor, the fastest the machine does the same data
// movement with nothing else, and the table prints how the two compare.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace glitchwerk::bench {

enum class Target {
    None,                    // a floor, measured for the rows that refer to it
    Report,                  // compared with its floor, with no target
    QuarterOfFloor,          // at most 4 times the floor's time
    EightGigabytesPerSecond, // at least 8e9 bytes per second
    WithinTwentyPercent,     // at most 1.2 times the floor's time
    WithinThirtyPercent,     // at most 1.3 times the floor's time
    WithinHalfAgain,         // at most 1.5 times the floor's time
    WithinThrice,            // at most 3 times the floor's time
    WithinTwice,             // at most 2 times the floor's time
    TilesInTenMilliseconds,  // 8 KiB in at most 10 ms: 819.2 kB/s at least, whatever the floor
    ImageIn150Ms,            // a 2560x1600 image (its pixels counted as bytes) in at most 150 ms
    KernelCopy, // at most 0.8 times the floor's time where the kernel copies files, else 1.3
};

// Whether the kernel copies files here (copy_file_range), as the backup does.
bool KernelCopies();

// Registers a benchmark together with its row of the table. `floor` names the
// benchmark it is compared with (empty for a floor itself). Benchmarks report
// the bytes they move with State::SetBytesProcessed.
benchmark::internal::Benchmark* AddFigure(const std::string& name, const std::string& floor,
                                          Target target,
                                          std::function<void(benchmark::State&)> body);

// ApplyByteRule on one window held in cache, every rule against memcpy.
void AddWindowBenchmarks();

// The corruption pass, the backup and the restore over `file`, against plain
// C stream copies of it, and Re-Corrupt and Restore of a small range in
// `large` against one read of it. Each file is in a scratch folder of its
// own, where its backup's data file is created.
// Tiles drawn from one 8 KiB bank, against memcpy of the bank.
void AddTileBenchmarks();

// The panel's preview of a JPEG and of an iNES file's tiles (built with Qt only).
void AddPreviewBenchmarks();

// A ROM played by the play benchmark: its file (rewritten by it), the core,
// and where its data starts (the bytes a Corrupt sets).
struct PlayedRom {
    std::string name;
    std::filesystem::path file;
    std::filesystem::path core;
    std::size_t from = 0;
};
// A try after a Corrupt to its first frame, against a bare host's fresh
// start, load and frame (Linux, where glitchwerk-play is built).
void AddPlayBenchmarks(const std::vector<PlayedRom>& roms);
// The same through the panel: from the end of its Corrupt to the first frame
// its play view shows.
void AddPanelPlayBenchmarks(const std::vector<PlayedRom>& roms);

void AddFileBenchmarks(const std::filesystem::path& file, std::uint32_t length,
                       const std::filesystem::path& large);

} // namespace glitchwerk::bench
