// SPDX-License-Identifier: MIT
// Where the dialog and its panel go, on screens wide, narrow, tall, tiny and
// not at 0, 0. The sizes are the Qt face's, frames included.
#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace glitchwerk {
namespace {

TEST(Placement, ThePairFitsTheWorkAreaWithoutOverlapWhereItCan) {
    const std::pair<ScreenRect, PairPlace> cases[] = {
        // Room to spare: centred together, tops level.
        {{0, 0, 1920, 1200}, {{290, 251, 504, 372}, {802, 251, 827, 698}}},
        // The panel narrower, filling what the dialog leaves; a bar above and a
        // screen on the right; a tall, narrow screen (one above the other).
        {{0, 0, 1280, 800}, {{0, 51, 504, 372}, {512, 51, 768, 698}}},
        {{1920, 24, 1600, 876}, {{2050, 113, 504, 372}, {2562, 113, 827, 698}}},
        {{0, 0, 800, 1280}, {{148, 101, 504, 372}, {0, 481, 800, 698}}},
        // No room for both: the panel at its narrowest over the dialog's edge.
        {{0, 0, 1024, 768}, {{0, 35, 504, 372}, {287, 35, 737, 698}}},
        {{0, 0, 600, 1200}, {{0, 251, 504, 372}, {0, 251, 737, 698}}},
        {{-640, 0, 640, 480}, {{-640, 0, 504, 372}, {-640, 0, 737, 698}}},
    };
    for (const auto& [work, place] : cases)
        EXPECT_EQ(PlacePair(work, {504, 372, 827, 698, 737, 8}), place)
            << work.width << "x" << work.height;
}

} // namespace
} // namespace glitchwerk
