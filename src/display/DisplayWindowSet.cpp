#include "display/DisplayWindowSet.h"

#include "display/ScreenLayout.h"

namespace tavrin::display {

bool isDisplayableLayout(int32_t layoutId) {
    return isLayoutIndex(layoutId) && layoutId != 0 && screenLayouts[layoutId].width > 0 &&
           screenLayouts[layoutId].height > 0;
}

std::vector<DisplayWindowPlan> windowsForLayout(int32_t layoutId, bool split) {
    if (!isDisplayableLayout(layoutId))
        return {};
    const ScreenLayout& l = screenLayouts[layoutId];
    if (layoutId == kSingleScreenLayout)
        return {{"Pellan Capture", l.width, l.height, PART_WHOLE, 0, 0, 0}};
    if (!split)
        return {{"Tavrin Capture - Single", l.width, l.height, PART_WHOLE, 0, 0, 0}};
    return {
        {"Tavrin Capture - Top", l.topWidth, l.topHeight, PART_TOP, 0, 0, 0},
        {"Tavrin Capture - Bottom", l.bottomWidth, l.bottomHeight, PART_BOTTOM, 1, 0, 0},
    };
}

void DisplayWindowSet::applyDisplayMode(int layoutId, bool split) {
    destroyDisplayWindows();

    // A stored id that names no picture would give windows of size 0: show the
    // dual-screen picture instead, and store that.
    if (!isDisplayableLayout(layoutId))
        layoutId = kDualScreenLayout;

    if (layoutId != settings_.displayMode || split != (settings_.splitWindows != 0)) {
        // Another layout: both slots go back to their native sizes.
        for (int slot = 0; slot < 2; ++slot) {
            settings_.clientWidth[slot] = 0;
            settings_.clientHeight[slot] = 0;
        }
    }
    settings_.displayMode = layoutId;
    settings_.splitWindows = split ? 1 : 0;

    for (DisplayWindowPlan plan : windowsForLayout(layoutId, split)) {
        int32_t& cw = settings_.clientWidth[plan.windowSlot];
        int32_t& ch = settings_.clientHeight[plan.windowSlot];
        if (cw <= 0 || ch <= 0) {
            cw = plan.width;
            ch = plan.height;
        }
        plan.clientWidth = cw;
        plan.clientHeight = ch;

        std::unique_ptr<DisplayWindowHandle> window = factory_.createDisplayWindow(plan);
        if (!window) {
            factory_.fatalError(plan.windowSlot == 0 ? "display1.init() fail" : "display2.init() fail");
            return;
        }
        (plan.windowSlot == 0 ? main_ : bottom_) = std::move(window);
    }
}

void DisplayWindowSet::destroyDisplayWindows() {
    bottom_.reset();
    main_.reset();
}

void DisplayWindowSet::applyTopmost() {
    const bool on = settings_.alwaysOnTop != 0;
    if (main_)
        main_->setTopmost(on);
    if (bottom_)
        bottom_->setTopmost(on);
}

void DisplayWindowSet::focusMainDisplay() {
    if (main_)
        main_->bringToFront();
}

} // namespace tavrin::display
