// SPDX-License-Identifier: MIT
// Runs one corruption pass (all bytes, random replacement) over a whole file,
// to measure its peak memory from outside: glitchwerk_pass_once FILE

#include "engine/byte_rules.h"
#include "engine/corruption_pass.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    using namespace glitchwerk;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::error_code error;
    const auto length = std::filesystem::file_size(argv[1], error);
    if (error || length > 0x7FFFFFFF) {
        std::fprintf(stderr, "%s: not a file below 2 GiB\n", argv[1]);
        return 1;
    }
    SeedRandomGenerator(1);
    const ByteRule rule{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceRandomByte, 0};
    const auto end = static_cast<std::uint32_t>(length);
    CorruptionResult result{};
    if (!RunCorruptionPass({argv[1], 0, end, end, rule}, result)) {
        std::fprintf(stderr, "%s: the pass failed\n", argv[1]);
        return 1;
    }
    std::printf("%d bytes hit, first %X, last %X\n", result.totalBytes, result.firstByte,
                result.lastByte);
    return 0;
}
