// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/SizingRule.h"

#include <cstdint>
#include <vector>

namespace tavrin::display {

// The part of the screen the display windows may use, and the room a window
// manager's frame takes around a client area (all 0 without a window manager).
struct ScreenArea {
    WindowRect available; // work area in screen coordinates; empty when unknown
    int32_t frameLeft = 0;
    int32_t frameTop = 0;
    int32_t frameRight = 0;
    int32_t frameBottom = 0;
    int32_t roomBeside = 0; // outer width kept free right of the windows (the control window's)

    bool known() const { return available.width() > 0 && available.height() > 0; }
    int32_t frameWidth() const { return frameLeft + frameRight; }
    int32_t frameHeight() const { return frameTop + frameBottom; }
};

// `size` when it fits within maxWidth x maxHeight; otherwise the largest size the
// sizing rule gives for a picture of width x height that fits (never below the
// picture's own size, which the rule does not go under).
ClientSize fitClientSize(int32_t width, int32_t height, ClientSize size, int64_t maxWidth, int64_t maxHeight);

// The part of a client area of `size` that a picture of width x height fills when
// scaled to fit with its aspect kept: the size worth keeping when the window system
// gave the window another shape (a tile, a wide request). Never below the picture's
// own size, which is the smallest window there is.
ClientSize pictureArea(int32_t width, int32_t height, ClientSize size);

// What a window showing a picture of width x height at client size `size` keeps as
// its saved size: the picture's area, within `room` (the screen's room for a client
// area), so that it opens well anywhere.
ClientSize keptClientSize(int32_t width, int32_t height, ClientSize size, ClientSize room);

// The client size for a picture whose shape changed from oldWidth x oldHeight to
// width x height in a window of client size `size`: the new shape at the scale the old
// one was shown at, never below 1x, within `room`.
ClientSize reshapedClientSize(int32_t oldWidth, int32_t oldHeight, int32_t width, int32_t height,
                              ClientSize size, ClientSize room);

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

// The client area's top-left corner for one window of client size `size`, centred.
ClientPosition placeCentred(const ScreenArea& area, ClientSize size);

// The area less its roomBeside, so that windows centred in it leave that room free
// at the right; the whole area when the windows' outer width `needed` would not fit.
ScreenArea areaLeavingRoom(const ScreenArea& area, int64_t needed);

// Where a window of outer size `outer` goes so that it covers none of `taken`
// (outer rectangles of the windows already there): right of them, else left, else
// below, else above, as near their top (or left) edge as the area allows. Without
// room anywhere, the area's right edge. The window's top-left corner.
ClientPosition placeClearOf(const ScreenArea& area, const std::vector<WindowRect>& taken, ClientSize outer);

} // namespace tavrin::display
