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

namespace glitchwerk::bench {

enum class Target {
    None,                // a floor, measured for the rows that refer to it
    QuarterOfFloor,      // at most 4 times the floor's time
    GigabytePerSecond,   // at least 1e9 bytes per second
    WithinThirtyPercent, // at most 1.3 times the floor's time
};

// Registers a benchmark together with its row of the table. `floor` names the
// benchmark it is compared with (empty for a floor itself). Benchmarks report
// the bytes they move with State::SetBytesProcessed.
benchmark::internal::Benchmark* AddFigure(const std::string& name, const std::string& floor,
                                          Target target,
                                          std::function<void(benchmark::State&)> body);

// ApplyByteRule on one window held in cache, every rule against memcpy.
void AddWindowBenchmarks();

// The corruption pass, the backup and the restore over `file`, against plain
// C stream copies of it. The current directory must be a scratch folder: the
// backup's data file is created there.
void AddFileBenchmarks(const std::filesystem::path& file, std::uint32_t length);

} // namespace glitchwerk::bench
