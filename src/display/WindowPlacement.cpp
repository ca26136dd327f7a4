// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/WindowPlacement.h"

#include <algorithm>
#include <cstdlib>

namespace tavrin::display {

namespace {

bool fits(ClientSize s, int64_t maxWidth, int64_t maxHeight) {
    return s.width <= maxWidth && s.height <= maxHeight;
}

} // namespace

ClientSize fitClientSize(int32_t width, int32_t height, ClientSize size, int64_t maxWidth,
                         int64_t maxHeight) {
    if (fits(size, maxWidth, maxHeight) || width <= 0 || height <= 0)
        return size;
    // The dimension that runs out first is dragged (so the rule lets it decide), and
    // pulled back by what the rule's snapping added until the result fits.
    const bool heightLimits = int64_t{width} * maxHeight <= int64_t{height} * maxWidth;
    int64_t proposal = std::clamp<int64_t>(heightLimits ? maxHeight : maxWidth, 0, INT32_MAX);
    for (int i = 0; i < 64; ++i) {
        WindowRect r{0, 0, heightLimits ? 0 : static_cast<int32_t>(proposal),
                     heightLimits ? static_cast<int32_t>(proposal) : 0};
        const ClientSize s =
            applySizingRule(width, height, 0, 0, heightLimits ? SizingEdge::Bottom : SizingEdge::Right, r);
        if (fits(s, maxWidth, maxHeight) || (s.width <= width && s.height <= height))
            return s;
        const int64_t excess = heightLimits ? s.height - maxHeight : s.width - maxWidth;
        proposal -= std::max<int64_t>(1, excess);
    }
    return {width, height};
}

ClientSize pictureArea(int32_t width, int32_t height, ClientSize size) {
    if (width <= 0 || height <= 0)
        return size;
    const int64_t w = width;
    const int64_t h = height;
    int64_t cw = size.width;
    int64_t ch = size.height;
    // Within a pixel of the aspect (as the sizing rule's own sizes are): itself.
    if (std::abs(w * ch - h * cw) < std::max(w, h))
        return cw < w || ch < h ? ClientSize{width, height} : size;
    if (w * ch > h * cw)
        ch = h * cw / w;
    else
        cw = w * ch / h;
    if (cw < w || ch < h)
        return {width, height};
    return {static_cast<int32_t>(cw), static_cast<int32_t>(ch)};
}

ClientSize keptClientSize(int32_t width, int32_t height, ClientSize size, ClientSize room) {
    return fitClientSize(width, height, pictureArea(width, height, size), room.width, room.height);
}

ClientSize reshapedClientSize(int32_t oldWidth, int32_t oldHeight, int32_t width, int32_t height,
                              ClientSize size, ClientSize room) {
    if (oldHeight <= 0)
        return fitClientSize(width, height, {width, height}, room.width, room.height);
    const ClientSize shown = pictureArea(oldWidth, oldHeight, size);
    const double scale = static_cast<double>(shown.height) / oldHeight;
    const ClientSize wanted{std::max(width, static_cast<int32_t>(width * scale)),
                            std::max(height, static_cast<int32_t>(height * scale))};
    return fitClientSize(width, height, wanted, room.width, room.height);
}

ClientPosition placeCentred(const ScreenArea& area, ClientSize size) {
    if (!area.known())
        return {};
    const int64_t x = area.available.left +
                      std::max<int64_t>(0, (area.available.width() - size.width - area.frameWidth()) / 2);
    const int64_t y = area.available.top +
                      std::max<int64_t>(0, (area.available.height() - size.height - area.frameHeight()) / 2);
    return {static_cast<int32_t>(x + area.frameLeft), static_cast<int32_t>(y + area.frameTop)};
}

ScreenArea areaLeavingRoom(const ScreenArea& area, int64_t needed) {
    if (!area.known() || area.roomBeside <= 0 || needed + area.roomBeside > area.available.width())
        return area;
    ScreenArea less = area;
    less.available.right -= area.roomBeside;
    less.roomBeside = 0;
    return less;
}

ClientPosition placeClearOf(const ScreenArea& area, const std::vector<WindowRect>& taken, ClientSize outer) {
    const WindowRect& a = area.available;
    if (!area.known())
        return {};
    if (taken.empty())
        return {static_cast<int32_t>(a.left + (a.width() - outer.width) / 2),
                static_cast<int32_t>(a.top + (a.height() - outer.height) / 2)};
    WindowRect all = taken.front();
    for (const WindowRect& r : taken) {
        all.left = std::min(all.left, r.left);
        all.top = std::min(all.top, r.top);
        all.right = std::max(all.right, r.right);
        all.bottom = std::max(all.bottom, r.bottom);
    }
    auto clamp = [](int64_t v, int64_t lo, int64_t hi) { return std::max(lo, std::min(v, hi)); };
    const int64_t y = clamp(all.top, a.top, a.bottom - outer.height);
    const int64_t x = clamp(all.left, a.left, a.right - outer.width);
    if (a.right - all.right >= outer.width)
        return {all.right, static_cast<int32_t>(y)};
    if (all.left - a.left >= outer.width)
        return {static_cast<int32_t>(all.left - outer.width), static_cast<int32_t>(y)};
    if (a.bottom - all.bottom >= outer.height)
        return {static_cast<int32_t>(x), all.bottom};
    if (all.top - a.top >= outer.height)
        return {static_cast<int32_t>(x), static_cast<int32_t>(all.top - outer.height)};
    return {static_cast<int32_t>(std::max<int64_t>(a.left, a.right - outer.width)), static_cast<int32_t>(y)};
}

SplitPlacement placeSplitWindows(const ScreenArea& area, ClientSize topPicture, ClientSize top,
                                 ClientSize bottomPicture, ClientSize bottom) {
    SplitPlacement p{top, bottom, {}, {}};
    const int64_t fw = area.frameWidth();
    const int64_t fh = area.frameHeight();
    const int64_t left = area.known() ? area.available.left : 0;
    const int64_t topEdge = area.known() ? area.available.top : 0;
    const int64_t aw = area.known() ? area.available.width() : INT32_MAX;
    const int64_t ah = area.known() ? area.available.height() : INT32_MAX;

    const int64_t stackedW = std::max(top.width, bottom.width) + fw;
    const int64_t stackedH = int64_t{top.height} + bottom.height + 2 * fh;
    if (stackedW <= aw && stackedH <= ah) {
        const int64_t y = topEdge + (area.known() ? (ah - stackedH) / 2 : 0);
        auto x = [&](ClientSize s) {
            return left + (area.known() ? (aw - s.width - fw) / 2 : 0) + area.frameLeft;
        };
        p.topAt = {static_cast<int32_t>(x(top)), static_cast<int32_t>(y + area.frameTop)};
        p.bottomAt = {static_cast<int32_t>(x(bottom)),
                      static_cast<int32_t>(y + top.height + fh + area.frameTop)};
        return p;
    }

    if (int64_t{top.width} + bottom.width + 2 * fw > aw) {
        const int64_t half = aw / 2 - fw;
        p.top = fitClientSize(topPicture.width, topPicture.height, top, half, ah - fh);
        p.bottom = fitClientSize(bottomPicture.width, bottomPicture.height, bottom, half, ah - fh);
    }
    const int64_t pairW = int64_t{p.top.width} + p.bottom.width + 2 * fw;
    const int64_t pairH = std::max(p.top.height, p.bottom.height) + fh;
    const int64_t x = left + std::max<int64_t>(0, (aw - pairW) / 2);
    const int64_t y = topEdge + std::max<int64_t>(0, (ah - pairH) / 2);
    p.topAt = {static_cast<int32_t>(x + area.frameLeft), static_cast<int32_t>(y + area.frameTop)};
    p.bottomAt = {static_cast<int32_t>(x + p.top.width + fw + area.frameLeft),
                  static_cast<int32_t>(y + area.frameTop)};
    return p;
}

} // namespace tavrin::display
