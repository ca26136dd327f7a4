// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/SizingRule.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace tavrin::display {

namespace {

int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Never below 1x; within 15 pixels (either side) of a whole multiple, that multiple;
// with `whole`, the nearest one always.
int64_t fitToMultiple(int64_t size, int64_t unit, bool whole) {
    if (size < unit)
        size = unit;
    if (whole)
        return (size + unit / 2) / unit * unit;
    if ((size + 15) % unit < 30)
        size = ((size + 30) / unit) * unit;
    return size;
}

} // namespace

ClientSize applySizingRule(int32_t width, int32_t height, int32_t frameExtraWidth, int32_t frameExtraHeight,
                           SizingEdge edge, WindowRect& rect, bool wholeMultiples) {
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return {};
    const int64_t w = width;
    const int64_t h = height;
    int64_t cw = clamp32(rect.width() - frameExtraWidth);
    int64_t ch = clamp32(rect.height() - frameExtraHeight);

    if (edge == SizingEdge::Top || edge == SizingEdge::Bottom)
        cw = 0;
    else if (edge == SizingEdge::Left || edge == SizingEdge::Right)
        ch = 0;

    if (h * cw > w * ch) {
        cw = fitToMultiple(cw, w, wholeMultiples);
    } else {
        ch = fitToMultiple(ch, h, wholeMultiples);
        cw = w * ch / h;
    }
    // Sizes beyond any screen cannot come from a user; keep the results in range.
    cw = std::min(cw, std::min<int64_t>(INT32_MAX - 1, int64_t{INT32_MAX} * w / h));
    if (wholeMultiples)
        cw -= cw % w; // an odd picture's odd multiple stays whole
    else
        cw &= ~int64_t{1};
    ch = h * cw / w;

    const int64_t outerW = int64_t{frameExtraWidth} + cw;
    const int64_t outerH = int64_t{frameExtraHeight} + ch;
    switch (edge) {
    case SizingEdge::Left:
    case SizingEdge::BottomLeft:
        rect.left = clamp32(rect.right - outerW);
        rect.bottom = clamp32(rect.top + outerH);
        break;
    case SizingEdge::Right:
    case SizingEdge::Bottom:
    case SizingEdge::BottomRight:
        rect.right = clamp32(rect.left + outerW);
        rect.bottom = clamp32(rect.top + outerH);
        break;
    case SizingEdge::Top:
    case SizingEdge::TopRight:
        rect.top = clamp32(rect.bottom - outerH);
        rect.right = clamp32(rect.left + outerW);
        break;
    case SizingEdge::TopLeft:
        rect.left = clamp32(rect.right - outerW);
        rect.top = clamp32(rect.bottom - outerH);
        break;
    case SizingEdge::None:
        break;
    }
    return {static_cast<int32_t>(cw), static_cast<int32_t>(ch)};
}

WindowRect PointerSizing::follow(const WindowRect& proposed) {
    if (!pointer_) {
        pointer_ = proposed;
    } else {
        pointer_->left += proposed.left - given_.left;
        pointer_->top += proposed.top - given_.top;
        pointer_->right += proposed.right - given_.right;
        pointer_->bottom += proposed.bottom - given_.bottom;
    }
    given_ = proposed;
    return *pointer_;
}

std::string sizingTitle(ClientSize size) {
    char text[50];
    std::snprintf(text, sizeof text, "%d x %d", size.width, size.height);
    return text;
}

SizingEdge inferSizingEdge(const WindowRect& before, const WindowRect& after) {
    enum { Still, Low, High };
    int horizontal = Still;
    if (after.width() != before.width())
        horizontal = after.right != before.right ? High : Low;
    int vertical = Still;
    if (after.height() != before.height())
        vertical = after.bottom != before.bottom ? High : Low;

    using enum SizingEdge;
    static constexpr SizingEdge edges[3][3] = {
        // vertical: none, top, bottom
        {None, Top, Bottom},            // horizontal none
        {Left, TopLeft, BottomLeft},    // left
        {Right, TopRight, BottomRight}, // right
    };
    return edges[horizontal][vertical];
}

} // namespace tavrin::display
