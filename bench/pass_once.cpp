// SPDX-License-Identifier: MIT
// Runs one corruption pass (all bytes, random replacement) over a whole file,
// or backs it up and restores it whole, to measure the peak memory of either
// from outside: glitchwerk_pass_once [--restore] FILE. The data file of a
// backup goes in the current directory, and is emptied at the end.

#include "engine/backup_store.h"
#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

int main(int argc, char** argv) {
    using namespace glitchwerk;
    const bool restore = argc == 3 && std::strcmp(argv[1], "--restore") == 0;
    if (argc != 2 && !restore) {
        std::fprintf(stderr, "usage: %s [--restore] FILE\n", argv[0]);
        return 2;
    }
    const char* file = argv[argc - 1];
    std::error_code error;
    const auto length = std::filesystem::file_size(file, error);
    if (error || length > 0x7FFFFFFF) {
        std::fprintf(stderr, "%s: not a file below 2 GiB\n", file);
        return 1;
    }
    if (restore) {
        // The whole copy, as after another program emptied the file.
        BackupStore store;
        const bool restored = CreateBackup(store, file) == BackupResult::BackupCreated &&
                              (std::filesystem::resize_file(file, 0, error), !error) &&
                              RestoreFromBackup(store);
        ClearBackup(store);
        std::printf("%s\n", restored ? "restored" : "the backup or the restore failed");
        return restored ? 0 : 1;
    }
    const ByteRule rule{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
    const auto end = static_cast<std::uint32_t>(length);
    RandomStream stream{1, 0};
    std::vector<CorruptionResult> results;
    if (!RunCorruptionPass({file, end, {{0, end, rule}}}, stream, results)) {
        std::fprintf(stderr, "%s: the pass failed\n", file);
        return 1;
    }
    std::printf("%d bytes hit, first %X, last %X\n", results[0].totalBytes, results[0].firstByte,
                results[0].lastByte);
    return 0;
}
