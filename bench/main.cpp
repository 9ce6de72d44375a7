// SPDX-License-Identifier: MIT
// Runs every benchmark and prints one table: each figure next to its floor,
// the ratio of their times and whether the figure meets its target. Each row
// takes the median of several repetitions, interleaved in random order with
// the other benchmarks so that a slow moment of the machine does not fall on
// a figure or its floor alone.

#include "bench/figures.h"

#include "tests/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <vector>

namespace glitchwerk::bench {
namespace {

constexpr std::uint32_t kFileLength = 64 << 20;

struct Row {
    std::string name;
    std::string floor;
    Target target;
};
std::vector<Row> rows;

class RatioTable : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context& context) override {
        PrintBasicContext(&std::cout, context);
        std::cout << std::endl;
        return true;
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred)
                errors_[name] = run.error_message;
            else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                bytesPerSecond_[name] = run.counters.at("bytes_per_second");
        }
    }

    void Finalize() override {
        std::printf("%-38s %7s   %-20s %7s  %10s  %-10s\n", "figure", "GB/s", "floor", "GB/s",
                    "time/floor", "target");
        for (const Row& row : rows) {
            if (row.target == Target::None)
                continue;
            if (errors_.count(row.name)) {
                std::printf("%-38s failed: %s\n", row.name.c_str(), errors_[row.name].c_str());
                continue;
            }
            // Rows left out by --benchmark_filter, or whose floor was.
            if (!bytesPerSecond_.count(row.name) || !bytesPerSecond_.count(row.floor))
                continue;
            const double figure = bytesPerSecond_[row.name];
            const double floor = bytesPerSecond_[row.floor];
            const double ratio = floor / figure; // of times: higher is slower
            std::printf("%-38s %7.2f   %-20s %7.2f  %9.2fx  %-10s %s\n", row.name.c_str(),
                        figure / 1e9, row.floor.c_str(), floor / 1e9, ratio, TargetText(row.target),
                        row.target == Target::Report     ? ""
                        : Met(row.target, figure, ratio) ? "met"
                                                         : "NOT MET");
        }
    }

  private:
    static const char* TargetText(Target target) {
        switch (target) {
        case Target::QuarterOfFloor:
            return "<= 4x";
        case Target::EightGigabytesPerSecond:
            return ">= 8 GB/s";
        case Target::WithinTwentyPercent:
            return "<= 1.2x";
        case Target::WithinThirtyPercent:
            return "<= 1.3x";
        case Target::WithinHalfAgain:
            return "<= 1.5x";
        case Target::WithinThrice:
            return "<= 3x";
        case Target::WithinTwice:
            return "<= 2x";
        case Target::KernelCopy:
            return KernelCopies() ? "<= 0.8x" : "<= 1.3x";
        case Target::TilesInTenMilliseconds:
            return "<= 10 ms";
        case Target::ImageIn150Ms:
            return "<= 150 ms";
        case Target::Report:
            return "-";
        case Target::None:
            break;
        }
        return "";
    }

    static bool Met(Target target, double bytesPerSecond, double ratio) {
        switch (target) {
        case Target::QuarterOfFloor:
            return ratio <= 4.0;
        case Target::EightGigabytesPerSecond:
            return bytesPerSecond >= 8e9;
        case Target::WithinTwentyPercent:
            return ratio <= 1.2;
        case Target::WithinThirtyPercent:
            return ratio <= 1.3;
        case Target::WithinHalfAgain:
            return ratio <= 1.5;
        case Target::WithinThrice:
            return ratio <= 3.0;
        case Target::WithinTwice:
            return ratio <= 2.0;
        case Target::KernelCopy:
            return ratio <= (KernelCopies() ? 0.8 : 1.3);
        case Target::TilesInTenMilliseconds:
            return bytesPerSecond >= 8192 / 0.01;
        case Target::ImageIn150Ms:
            return bytesPerSecond >= 2560 * 1600 / 0.15;
        case Target::Report:
        case Target::None:
            break;
        }
        return true;
    }

    std::map<std::string, double> bytesPerSecond_;
    std::map<std::string, std::string> errors_;
};

} // namespace

benchmark::internal::Benchmark* AddFigure(const std::string& name, const std::string& floor,
                                          Target target,
                                          std::function<void(benchmark::State&)> body) {
    rows.push_back({name, floor, target});
    return benchmark::RegisterBenchmark(name.c_str(), std::move(body));
}

} // namespace glitchwerk::bench

int main(int argc, char** argv) {
    using namespace glitchwerk;
    // Interleaving is on unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    // The data file of the backup goes in the current directory: a scratch
    // folder, removed with the file afterwards.
    const testing::TempDir dir(true);
    const auto file = dir / "image.bin";
    testing::WriteFile(file, testing::CountingBytes(bench::kFileLength));
    const testing::TempDir large;
    testing::WriteFile(large / "disc.iso", testing::CountingBytes(256 << 20));

    bench::AddWindowBenchmarks();
    bench::AddTileBenchmarks();
#ifdef GLITCHWERK_BENCH_QT
    bench::AddPreviewBenchmarks();
#endif
    bench::AddFileBenchmarks(file, bench::kFileLength, large / "disc.iso");
#ifdef GLITCHWERK_BENCH_PLAY
    // The test core on 8 KiB of its own; nestopia on cc65's hello sample where
    // both are at hand.
    const testing::TempDir played;
    std::vector<bench::PlayedRom> roms = {
        {"test core", played / "test.gwt", GLITCHWERK_TEST_CORE, 8}};
    testing::WriteFile(roms[0].file, testing::CountingBytes(8 << 10));
    const std::filesystem::path nestopia = GLITCHWERK_NESTOPIA;
    const std::string hello = (played / "hello.nes").string();
    if (std::filesystem::exists(nestopia) &&
        std::system(("cl65 -t nes -o " + hello + " /usr/share/cc65/samples/hello.c").c_str()) == 0)
        roms.push_back({"nestopia", hello, nestopia, 0x8010});
    bench::AddPlayBenchmarks(roms);
    bench::AddPanelPlayBenchmarks(roms);
#endif
    bench::RatioTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return 0;
}
