// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/SizingRule.h"

#include <cstdint>

namespace tavrin::display {

// The part of the screen the display windows may use, and the room a window
// manager's frame takes around a client area (all 0 without a window manager).
struct ScreenArea {
    WindowRect available; // work area in screen coordinates; empty when unknown
    int32_t frameLeft = 0;
    int32_t frameTop = 0;
    int32_t frameRight = 0;
    int32_t frameBottom = 0;

    bool known() const { return available.width() > 0 && available.height() > 0; }
    int32_t frameWidth() const { return frameLeft + frameRight; }
    int32_t frameHeight() const { return frameTop + frameBottom; }
};

// `size` when it fits within maxWidth x maxHeight; otherwise the largest size the
// sizing rule gives for a picture of width x height that fits (never below the
// picture's own size, which the rule does not go under).
ClientSize fitClientSize(int32_t width, int32_t height, ClientSize size, int64_t maxWidth, int64_t maxHeight);

struct ClientPosition {
    int32_t x = 0;
    int32_t y = 0;
};

struct SplitPlacement {
    ClientSize top; // the sizes, shrunk when the two would not fit side by side
    ClientSize bottom;
    ClientPosition topAt; // client areas' top-left corners
    ClientPosition bottomAt;
};

// Puts the top window above the bottom one, the pair centred in the area; side by
// side when the area is too short for that; both shrunk (by the sizing rule) when
// even side by side does not fit. topPicture and bottomPicture are the parts'
// native sizes, top and bottom the client sizes wanted.
SplitPlacement placeSplitWindows(const ScreenArea& area, ClientSize topPicture, ClientSize top,
                                 ClientSize bottomPicture, ClientSize bottom);

} // namespace tavrin::display
