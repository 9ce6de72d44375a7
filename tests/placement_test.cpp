// SPDX-License-Identifier: MIT
// Where the dialog and its panel go, on screens wide, narrow, tall, tiny and
// not at 0, 0. The sizes are the Qt face's, frames included.
#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace glitchwerk {
namespace {

constexpr PairSizes kSizes{504, 372, 827, 698, 737, 8};

bool Inside(const ScreenRect& inner, const ScreenRect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

bool Overlap(const ScreenRect& a, const ScreenRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

TEST(Placement, ThePairFitsTheWorkAreaWithoutOverlapWhereItCan) {
    const struct {
        ScreenRect work;
        PairPlace place;
        bool fits;
    } cases[] = {
        // Room to spare: centred together, tops level.
        {{0, 0, 1920, 1200}, {{290, 251, 504, 372}, {802, 251, 827, 698}}, true},
        // The panel narrower, filling what the dialog leaves.
        {{0, 0, 1280, 800}, {{0, 51, 504, 372}, {512, 51, 768, 698}}, true},
        {{0, 0, 1249, 701}, {{0, 1, 504, 372}, {512, 1, 737, 698}}, true},
        // A bar above and a screen on the right.
        {{1920, 24, 1600, 876}, {{2050, 113, 504, 372}, {2562, 113, 827, 698}}, true},
        // Tall and narrow: one above the other.
        {{0, 0, 800, 1280}, {{148, 101, 504, 372}, {0, 481, 800, 698}}, true},
        // No room for both: the panel at its narrowest over the dialog's edge.
        {{0, 0, 1024, 768}, {{0, 35, 504, 372}, {287, 35, 737, 698}}, false},
        {{-640, 0, 640, 480}, {{-640, 0, 504, 372}, {-640, 0, 737, 698}}, false},
    };
    for (const auto& [work, place, fits] : cases) {
        SCOPED_TRACE(testing::Message()
                     << work.x << "," << work.y << " " << work.width << "x" << work.height);
        const PairPlace got = PlacePair(work, kSizes);
        EXPECT_EQ(got, place);
        EXPECT_EQ(fits, Inside(got.dialog, work) && Inside(got.panel, work) &&
                            !Overlap(got.dialog, got.panel));
    }
}

} // namespace
} // namespace glitchwerk
