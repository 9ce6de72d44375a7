// SPDX-License-Identifier: MIT
#include "dialog/placement.h"

#include <algorithm>

namespace glitchwerk {
namespace {

// Where `size` goes in `room` from `origin`: in the middle, or at the origin
// when it does not fit.
int Centre(int origin, int room, int size) {
    return origin + std::max(0, (room - size) / 2);
}

} // namespace

PairPlace PlacePair(const ScreenRect& work, const PairSizes& sizes) {
    const int across = sizes.dialogWidth + sizes.gap;
    const int tallest = std::max(sizes.dialogHeight, sizes.panelHeight);
    if (across + sizes.panelNarrowest <= work.width) {
        const int panel = std::min(sizes.panelWidth, work.width - across);
        const int left = Centre(work.x, work.width, across + panel);
        const int top = Centre(work.y, work.height, tallest);
        return {{left, top, sizes.dialogWidth, sizes.dialogHeight},
                {left + across, top, panel, sizes.panelHeight}};
    }
    const int down = sizes.dialogHeight + sizes.gap;
    if (down + sizes.panelHeight <= work.height && sizes.panelNarrowest <= work.width) {
        const int panel = std::min(sizes.panelWidth, work.width);
        const int top = Centre(work.y, work.height, down + sizes.panelHeight);
        return {{Centre(work.x, work.width, sizes.dialogWidth), top, sizes.dialogWidth,
                 sizes.dialogHeight},
                {Centre(work.x, work.width, panel), top + down, panel, sizes.panelHeight}};
    }
    // The panel stays over the dialog, which keeps its left-hand side in sight.
    const int top = Centre(work.y, work.height, tallest);
    const int right = std::max(work.x, work.x + work.width - sizes.panelNarrowest);
    return {{work.x, top, sizes.dialogWidth, sizes.dialogHeight},
            {right, top, sizes.panelNarrowest, sizes.panelHeight}};
}

} // namespace glitchwerk
