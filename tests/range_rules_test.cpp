// SPDX-License-Identifier: MIT
#include "engine/range_rules.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace glitchwerk {
namespace {

using testing::Bytes;

// Smooth at powers of two over windows long enough for many groups of 64, their ends at each place
// of the last groups; random bytes, bytes all 0xFF, and a square wave of the block's period.
TEST(SmoothBytes, MatchesPlainMeansOverLongWindows) {
    std::mt19937 random(13);
    for (const std::size_t block : {64, 128, 256, 4096}) {
        for (std::size_t extra = 0; extra < 260; extra += 37) {
            for (int pattern = 0; pattern < 3; ++pattern) {
                Bytes from(block + 7 * 64 + extra + (block == 4096 ? 4096 * 3 : 0));
                for (std::size_t i = 0; i < from.size(); ++i)
                    from[i] = std::array<std::uint8_t, 3>{
                        static_cast<std::uint8_t>(random()), 0xFF,
                        static_cast<std::uint8_t>(i / block % 2 * 0xFF)}[pattern];
                std::vector<std::uint64_t> sums(from.size() + 1);
                for (std::size_t i = 0; i < from.size(); ++i)
                    sums[i + 1] = sums[i] + from[i];
                Bytes expected(from.size() - block + 1);
                for (std::size_t p = 0; p < expected.size(); ++p)
                    expected[p] = static_cast<std::uint8_t>((sums[p + block] - sums[p]) / block);
                Bytes to(expected.size());
                SmoothBytes(from.data(), to.data(), to.size(), from.size(), block);
                ASSERT_EQ(to, expected) << block << " " << extra << " " << pattern;
            }
        }
    }
}

} // namespace
} // namespace glitchwerk
