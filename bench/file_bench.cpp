// SPDX-License-Identifier: MIT
// The corruption pass, the backup and the restore over one page-cached file,
// against the plain C stream loops that move the same bytes; Re-Corrupt and
// Restore of a small range of a disc image, against one read of the image.

#include "bench/figures.h"

#include "engine/backup_store.h"
#include "engine/corruption_pass.h"
#include "engine/crc32.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace glitchwerk::bench {
namespace {

namespace fs = std::filesystem;

void Pass(benchmark::State& state, const CorruptionRequest& request) {
    for (auto _ : state) {
        RandomStream stream{1, 0};
        std::vector<CorruptionResult> results;
        if (!RunCorruptionPass(request, stream, results))
            state.SkipWithError("the pass failed");
    }
    state.SetBytesProcessed(state.iterations() * request.fileLength);
}

// Floors use unbuffered streams: every 64 KiB fread or fwrite is then one
// system call straight to or from the caller's buffer, the least work the C
// streams can do. (With the default buffer of a few KiB, a 64 KiB fwrite
// becomes two system calls.)
void Unbuffered(std::FILE* stream) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
}

// The pass's floor: the same windows read and written back, nothing else.
void ReadAndWriteWindows(benchmark::State& state, const fs::path& file, std::uint32_t length) {
    std::vector<std::uint8_t> window(kWindowSize);
    for (auto _ : state) {
        std::FILE* stream = std::fopen(file.c_str(), "r+b");
        if (!stream) {
            state.SkipWithError("cannot open the file");
            break;
        }
        Unbuffered(stream);
        for (std::uint32_t offset = 0; offset < length; offset += kWindowSize) {
            std::fseek(stream, offset, SEEK_SET);
            const std::size_t got = std::fread(window.data(), 1, kWindowSize, stream);
            std::fseek(stream, offset, SEEK_SET);
            std::fwrite(window.data(), 1, got, stream);
        }
        std::fclose(stream);
    }
    state.SetBytesProcessed(state.iterations() * length);
}

// The floor of Restore and Re-Corrupt after a small change: one read of the
// whole file, from the page cache.
void ReadFile(benchmark::State& state, const fs::path& file) {
    std::vector<std::uint8_t> buffer(kWindowSize);
    std::uint64_t length = 0;
    for (auto _ : state) {
        std::FILE* stream = std::fopen(file.c_str(), "rb");
        if (!stream) {
            state.SkipWithError("cannot open the file");
            break;
        }
        Unbuffered(stream);
        length = 0;
        for (std::size_t got = 0; (got = std::fread(buffer.data(), 1, buffer.size(), stream)) > 0;)
            length += got;
        std::fclose(stream);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}

// The floor of the backup and of the restore: a copy of the whole file
// through the same C streams in one 64 KiB buffer; with `toDisk`, waiting
// until the copy is on the disk, as the backup does.
void CopyFile(benchmark::State& state, const fs::path& from, const fs::path& to,
              std::uint32_t length, bool toDisk) {
    std::vector<std::uint8_t> buffer(kWindowSize);
    for (auto _ : state) {
        std::FILE* source = std::fopen(from.c_str(), "rb");
        std::FILE* target = std::fopen(to.c_str(), "w+b");
        if (!source || !target) {
            state.SkipWithError("cannot open the files");
            break;
        }
        Unbuffered(source);
        Unbuffered(target);
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), source)) > 0)
            std::fwrite(buffer.data(), 1, got, target);
        if (toDisk)
            FlushToDisk(target);
        std::fclose(target);
        std::fclose(source);
    }
    state.SetBytesProcessed(state.iterations() * length);
}

// glitchwerk-cli's copy of its input, with the CRC-32 of what it wrote, and
// its floor: cp, which copies through user space too with --reflink=never
// (its copy_file_range, where it uses one, shares no blocks on ext4 either).
// Each iteration makes a new file, the one before removed untimed.
void CopyOut(benchmark::State& state, const fs::path& from, const fs::path& to,
             std::uint32_t length) {
    FileHandle source = OpenFile(from, OpenHow::Reading);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(to);
        state.ResumeTiming();
        FileHandle copy = OpenFile(to, OpenHow::New);
        FileCrc32 crc;
        if (!source || !copy || !CopyWithCrc32(source.get(), copy.get(), length, crc) ||
            !CloseStream(copy))
            state.SkipWithError("the copy failed");
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * length);
}
void Cp(benchmark::State& state, const fs::path& from, const fs::path& to, std::uint32_t length) {
    const std::string command = "cp --reflink=never '" + from.string() + "' '" + to.string() + "'";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(to);
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * length);
}

// A run on `file`, its data file beside it.
struct Run {
    BackupStore store;
    explicit Run(benchmark::State& state, const fs::path& file) {
        const fs::path previous = fs::current_path();
        fs::current_path(file.parent_path());
        if (CreateBackup(store, file) != BackupResult::BackupCreated)
            state.SkipWithError("the backup failed");
        fs::current_path(previous);
    }
    ~Run() { ClearBackup(store); }
    // Random bytes over the 64 KiB in the middle of the file.
    bool Corrupt() {
        const std::uint32_t middle = store.romLength / 2;
        const ByteRule random{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
        RandomStream stream{1, 0};
        std::vector<CorruptionResult> results;
        return RunCorruptionPass(
                   store,
                   {store.romPath, store.romLength, {{middle, middle + kWindowSize, random}}},
                   stream, results) == PassOutcome::Done;
    }
};

// Re-Corrupt as the dialog runs it: back to the original, then a new
// corruption. Bytes count the whole file, so that the ratio to its read is
// one of times.
void ReCorrupt(benchmark::State& state, const fs::path& file) {
    Run run(state, file);
    for (auto _ : state) {
        if (!RestoreFromBackup(run.store) || !run.Corrupt())
            state.SkipWithError("Re-Corrupt failed");
    }
    state.SetBytesProcessed(state.iterations() * run.store.romLength);
}

// Restore after a corruption, or (`complete`) after every block was changed.
void Restore(benchmark::State& state, const fs::path& file, bool complete) {
    Run run(state, file);
    const std::uint32_t length = run.store.romLength;
    const ByteRule setAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0x55};
    for (auto _ : state) {
        state.PauseTiming();
        RandomStream stream{1, 0};
        std::vector<CorruptionResult> results;
        const bool changed =
            complete ? RunCorruptionPass({file, length, {{0, length, setAll}}}, stream, results)
                     : run.Corrupt();
        state.ResumeTiming();
        if (!changed || !RestoreFromBackup(run.store))
            state.SkipWithError("the restore failed");
    }
    state.SetBytesProcessed(state.iterations() * length);
}

void Backup(benchmark::State& state, const fs::path& file, std::uint32_t length) {
    for (auto _ : state) {
        BackupStore store;
        if (CreateBackup(store, file) != BackupResult::BackupCreated)
            state.SkipWithError("the backup failed");
        ClearBackup(store); // else the next one keeps this copy as a leftover
    }
    state.SetBytesProcessed(state.iterations() * length);
}

benchmark::internal::Benchmark* Timed(benchmark::internal::Benchmark* benchmark) {
    return benchmark->UseRealTime()->MinTime(0.2)->Repetitions(9);
}

} // namespace

bool KernelCopies() {
    static const bool copies = [] {
        const fs::path from = fs::temp_directory_path() / "glitchwerk-kernel-copy";
        std::ofstream(from) << "probe";
        FileHandle source = OpenFile(from, OpenHow::Existing);
        FileHandle target = OpenFile(fs::path(from) += ".copy", OpenHow::New);
        bool unsupported = true;
        const bool copied =
            source && target && KernelCopy(source.get(), target.get(), 5, unsupported, {});
        fs::remove(from);
        fs::remove(fs::path(from) += ".copy");
        return copied;
    }();
    return copies;
}

void AddFileBenchmarks(const fs::path& file, std::uint32_t length, const fs::path& large) {
    const std::string windows = "fread/fwrite windows";
    const std::string copy = "fread/fwrite copy";
    const std::string copyToDisk = "copy + fdatasync";
    const ByteRule setAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0x55};
    const ByteRule randomAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
    const fs::path copyPath = fs::path(file).replace_filename("copy.bin");

    Timed(AddFigure(windows, "", Target::None,
                    [=](benchmark::State& state) { ReadAndWriteWindows(state, file, length); }));
    for (const auto& [name, rule] : {std::pair{"RunCorruptionPass all/set", setAll},
                                     std::pair{"RunCorruptionPass all/random", randomAll}}) {
        const CorruptionRequest request{file, length, {{0, length, rule}}};
        Timed(AddFigure(name, windows, Target::WithinThirtyPercent,
                        [=](benchmark::State& state) { Pass(state, request); }));
    }
    // The sparse spreads: a match list per window instead of one vector loop,
    // and for a pick a second look at each chosen byte; no target yet.
    for (const auto& [name, spread] :
         {std::pair{"RunCorruptionPass all/random/every 7", Spread{SpreadKind::EveryNth, 7}},
          std::pair{"RunCorruptionPass all/random/pick 1000", Spread{SpreadKind::Pick, 1000}},
          std::pair{"RunCorruptionPass all/random/pick 1e6",
                    Spread{SpreadKind::Pick, kMostPicked}}}) {
        const CorruptionRequest request{file, length, {{0, length, randomAll, spread}}};
        Timed(AddFigure(name, windows, Target::Report,
                        [=](benchmark::State& state) { Pass(state, request); }));
    }
    // The rules that draw, against random bytes over the same pass.
    const ByteRule flipAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceFlipBit, 0};
    const ByteRule tiltAll{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceTilt, 0x10};
    for (const auto& [name, rule] : {std::pair{"RunCorruptionPass all/flip-bit", flipAll},
                                     std::pair{"RunCorruptionPass all/tilt", tiltAll}}) {
        const CorruptionRequest request{file, length, {{0, length, rule}}};
        Timed(AddFigure(name, "RunCorruptionPass all/random", Target::WithinTwentyPercent,
                        [=](benchmark::State& state) { Pass(state, request); }));
    }
    // The rules over the range as a whole, in the pass: no target of their
    // own there (that is memcpy's, on the window).
    for (const auto& [name, whole] :
         {std::pair{"RunCorruptionPass shift -1000", RangeRule{WholeRule::Shift, -1000}},
          std::pair{"RunCorruptionPass copy-from 1000", RangeRule{WholeRule::CopyFrom, 1000}},
          std::pair{"RunCorruptionPass reverse 64", RangeRule{WholeRule::Reverse, 64}},
          std::pair{"RunCorruptionPass swap 64", RangeRule{WholeRule::Swap, 64}},
          std::pair{"RunCorruptionPass shuffle 4096", RangeRule{WholeRule::Shuffle, 4096}},
          std::pair{"RunCorruptionPass smooth 64", RangeRule{WholeRule::Smooth, 64}}}) {
        const CorruptionRequest request{file, length, {{0, length, setAll, {}, whole}}};
        Timed(AddFigure(name, windows, Target::Report,
                        [=](benchmark::State& state) { Pass(state, request); }));
    }
    // A pick of up to 10,000 bytes reads the file once and writes back a few
    // windows: against one read of it.
    const std::string readFile = "read of 64 MiB";
    Timed(AddFigure(readFile, "", Target::None,
                    [=](benchmark::State& state) { ReadFile(state, file); }));
    const CorruptionRequest pick{file, length, {{0, length, randomAll, {SpreadKind::Pick, 10000}}}};
    Timed(AddFigure("RunCorruptionPass all/random/pick 1e4", readFile, Target::WithinThrice,
                    [=](benchmark::State& state) { Pass(state, pick); }));
    const std::string cp = "cp --reflink=never";
    Timed(AddFigure(cp, "", Target::None,
                    [=](benchmark::State& state) { Cp(state, file, copyPath, length); }));
    Timed(AddFigure("CopyWithCrc32", cp, Target::WithinHalfAgain,
                    [=](benchmark::State& state) { CopyOut(state, file, copyPath, length); }));
    Timed(AddFigure(copy, "", Target::None, [=](benchmark::State& state) {
        CopyFile(state, file, copyPath, length, false);
    }));
    Timed(AddFigure(copyToDisk, "", Target::None, [=](benchmark::State& state) {
        CopyFile(state, file, copyPath, length, true);
    }));
    Timed(AddFigure("CreateBackup", copyToDisk, Target::KernelCopy,
                    [=](benchmark::State& state) { Backup(state, file, length); }));
    Timed(AddFigure("RestoreFromBackup, complete", copyToDisk, Target::KernelCopy,
                    [=](benchmark::State& state) { Restore(state, file, true); }));

    const std::string read = "read of 256 MiB";
    Timed(AddFigure(read, "", Target::None,
                    [=](benchmark::State& state) { ReadFile(state, large); }));
    Timed(AddFigure("Re-Corrupt 64 KiB of 256 MiB", read, Target::WithinTwice,
                    [=](benchmark::State& state) { ReCorrupt(state, large); }));
    Timed(AddFigure("Restore 64 KiB of 256 MiB", read, Target::WithinTwice,
                    [=](benchmark::State& state) { Restore(state, large, false); }));
}

} // namespace glitchwerk::bench
