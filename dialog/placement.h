// SPDX-License-Identifier: MIT
#pragma once
// Where the dialog and its panel go on the screen, for every face: in pixels,
// of the windows' frames, inside the work area of the dialog's screen.

namespace glitchwerk {

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// The frames' sizes: the panel's at kPanelWidth, and its width at
// kPanelNarrowest (its height is the same).
struct PairSizes {
    int dialogWidth, dialogHeight;
    int panelWidth, panelHeight;
    int panelNarrowest;
    int gap;
};

struct PairPlace {
    ScreenRect dialog; // its size as given: the dialog never changes
    ScreenRect panel;  // as wide as it goes, at least its narrowest
    bool operator==(const PairPlace&) const = default;
};

// The dialog with its panel, never overlapping where they fit: side by side,
// tops level, centred together, the panel down to its narrowest; else one
// above the other (a tall screen); else the panel at its narrowest over the
// dialog's right edge. A window larger than the work area keeps its top-left
// corner, the title bar, on it. (The dialog alone is centred by each face.)
PairPlace PlacePair(const ScreenRect& work, const PairSizes& sizes);

} // namespace glitchwerk
