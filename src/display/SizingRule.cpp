#include "display/SizingRule.h"

#include <cstdio>

namespace tavrin::display {

namespace {

// Never below 1x; within 15 pixels (either side) of a whole multiple, that multiple.
int64_t fitToMultiple(int64_t size, int64_t unit) {
    if (size < unit)
        size = unit;
    if ((size + 15) % unit < 30)
        size = ((size + 30) / unit) * unit;
    return size;
}

} // namespace

ClientSize applySizingRule(int32_t width, int32_t height, int32_t frameExtraWidth, int32_t frameExtraHeight,
                           int32_t edge, WindowRect& rect) {
    if (width <= 0 || height <= 0)
        return {};
    const int64_t w = width;
    const int64_t h = height;
    int64_t cw = int64_t{rect.right} - frameExtraWidth - rect.left;
    int64_t ch = int64_t{rect.bottom} - frameExtraHeight - rect.top;

    if (edge == WMSZ_TOP || edge == WMSZ_BOTTOM)
        cw = 0;
    else if (edge == WMSZ_LEFT || edge == WMSZ_RIGHT)
        ch = 0;

    if (h * cw > w * ch) {
        cw = fitToMultiple(cw, w);
    } else {
        ch = fitToMultiple(ch, h);
        cw = w * ch / h;
    }
    cw &= ~int64_t{1};
    ch = h * cw / w;

    const auto ccw = static_cast<int32_t>(cw);
    const auto cch = static_cast<int32_t>(ch);
    switch (edge) {
    case WMSZ_LEFT:
    case WMSZ_BOTTOMLEFT:
        rect.left = rect.right - frameExtraWidth - ccw;
        rect.bottom = rect.top + frameExtraHeight + cch;
        break;
    case WMSZ_RIGHT:
    case WMSZ_BOTTOM:
    case WMSZ_BOTTOMRIGHT:
        rect.right = rect.left + frameExtraWidth + ccw;
        rect.bottom = rect.top + frameExtraHeight + cch;
        break;
    case WMSZ_TOP:
    case WMSZ_TOPRIGHT:
        rect.top = rect.bottom - frameExtraHeight - cch;
        rect.right = rect.left + frameExtraWidth + ccw;
        break;
    case WMSZ_TOPLEFT:
        rect.left = rect.right - frameExtraWidth - ccw;
        rect.top = rect.bottom - frameExtraHeight - cch;
        break;
    default:
        break;
    }
    return {ccw, cch};
}

std::string sizingTitle(ClientSize size) {
    char text[50];
    std::snprintf(text, sizeof text, "%d x %d", size.width, size.height);
    return text;
}

int32_t inferSizingEdge(const WindowRect& before, const WindowRect& after) {
    enum { None, Low, High };
    int horizontal = None;
    if (after.width() != before.width())
        horizontal = after.right != before.right ? High : Low;
    int vertical = None;
    if (after.height() != before.height())
        vertical = after.bottom != before.bottom ? High : Low;

    static constexpr int32_t edges[3][3] = {
        // vertical: none, top, bottom
        {0, WMSZ_TOP, WMSZ_BOTTOM},                    // horizontal none
        {WMSZ_LEFT, WMSZ_TOPLEFT, WMSZ_BOTTOMLEFT},    // left
        {WMSZ_RIGHT, WMSZ_TOPRIGHT, WMSZ_BOTTOMRIGHT}, // right
    };
    return edges[horizontal][vertical];
}

} // namespace tavrin::display
