// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavrin::display {

struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int64_t width() const { return int64_t{right} - left; }
    int64_t height() const { return int64_t{bottom} - top; }
    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

// The edge or corner being dragged; None when the size did not change.
enum class SizingEdge : uint8_t {
    None,
    Left,
    Right,
    Top,
    TopLeft,
    TopRight,
    Bottom,
    BottomLeft,
    BottomRight,
};

struct ClientSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const ClientSize&, const ClientSize&) = default;
};

// Keeps the picture's aspect (width x height) and snaps to whole multiples within
// 15 pixels; never smaller than 1x. A picture size outside 1 to 65535 leaves `rect`
// alone and gives 0 x 0. `rect` is the proposed outer rectangle, changed
// so that its client area gets the returned size, keeping the corner opposite `edge`
// (with no edge, `rect` stays as proposed). With `wholeMultiples` (integer scaling)
// the size is always the nearest whole multiple, for a system that offers no size
// steps of its own while the user drags.
// Integer arithmetic throughout.
ClientSize applySizingRule(int32_t width, int32_t height, int32_t frameExtraWidth, int32_t frameExtraHeight,
                           SizingEdge edge, WindowRect& rect, bool wholeMultiples = false);

// Where a sizing loop moves the edges from the rectangle the window last gave it (the
// Windows one), a pull of less than half a multiple would always snap back under integer
// scaling. This keeps the rectangle the pointer alone has made since the loop began, for
// the rule to take instead.
class PointerSizing {
  public:
    // The pointer's rectangle, given the loop's `proposed` one.
    WindowRect follow(const WindowRect& proposed);
    // What the window answered `proposed` with.
    void gave(const WindowRect& given) { given_ = given; }
    // The loop ended; the next one starts afresh.
    void end() { pointer_.reset(); }

  private:
    std::optional<WindowRect> pointer_;
    WindowRect given_;
};

// The window text while sizing, e.g. "512 x 768".
std::string sizingTitle(ClientSize size);

// Which edge or corner moved between two rectangles of a window whose size changed
// (None when neither size changed). When both sides of an axis moved, the right or
// bottom one counts, so the top-left corner stays.
SizingEdge inferSizingEdge(const WindowRect& before, const WindowRect& after);

} // namespace tavrin::display
