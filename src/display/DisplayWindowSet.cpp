// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/DisplayWindowSet.h"

#include "device/ScreenLayout.h"

#include <algorithm>

namespace tavrin::display {

bool isDisplayableLayout(int32_t layoutId) {
    return device::isLayoutIndex(layoutId) && layoutId != 0 && device::screenLayouts[layoutId].width > 0 &&
           device::screenLayouts[layoutId].height > 0;
}

std::vector<DisplayWindowPlan> windowsForLayout(int32_t layoutId, bool split) {
    if (!isDisplayableLayout(layoutId))
        return {};
    const device::ScreenLayout& l = device::screenLayouts[layoutId];
    if (layoutId == device::kSingleScreenLayout)
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
        layoutId = device::kDualScreenLayout;

    if (layoutId != settings_.displayMode || split != (settings_.splitWindows != 0)) {
        // Another layout: both slots go back to their native sizes.
        for (int slot = 0; slot < 2; ++slot) {
            settings_.clientWidth[slot] = 0;
            settings_.clientHeight[slot] = 0;
        }
    }
    settings_.displayMode = layoutId;
    settings_.splitWindows = split ? 1 : 0;

    std::vector<DisplayWindowPlan> plans = windowsForLayout(layoutId, split);
    const ScreenArea area = factory_.screenArea();
    for (DisplayWindowPlan& plan : plans) {
        // Sizes, hints and the sizing rule follow the picture as arranged.
        plan.partWidth = plan.width;
        plan.partHeight = plan.height;
        plan.twoScreens = layoutId == device::kDualScreenLayout && !split;
        const ArrangedPicture arranged = arrangePicture(picture_, plan.twoScreens, plan.width, plan.height);
        plan.width = arranged.width;
        plan.height = arranged.height;
        int32_t& cw = settings_.clientWidth[plan.windowSlot];
        int32_t& ch = settings_.clientHeight[plan.windowSlot];
        if (cw <= 0 || ch <= 0) {
            cw = plan.width;
            ch = plan.height;
        }
        ClientSize size{cw, ch};
        if (area.known())
            size = fitClientSize(plan.width, plan.height, size, area.available.width() - area.frameWidth(),
                                 area.available.height() - area.frameHeight());
        plan.clientWidth = size.width;
        plan.clientHeight = size.height;
    }
    if (plans.size() == 2) {
        // Two windows placed by nobody would open on top of each other.
        DisplayWindowPlan& top = plans[0];
        DisplayWindowPlan& bottom = plans[1];
        const ClientSize topPicture{top.width, top.height};
        const ClientSize bottomPicture{bottom.width, bottom.height};
        const ClientSize topSize{top.clientWidth, top.clientHeight};
        const ClientSize bottomSize{bottom.clientWidth, bottom.clientHeight};
        SplitPlacement p = placeSplitWindows(area, topPicture, topSize, bottomPicture, bottomSize);
        // Centred again in the area less the control window's room, if they fit there as they are.
        const int64_t pairWidth = std::max(p.topAt.x + p.top.width, p.bottomAt.x + p.bottom.width) -
                                  std::min(p.topAt.x, p.bottomAt.x) + area.frameWidth();
        const ScreenArea narrower = areaLeavingRoom(area, pairWidth);
        if (!(narrower.available == area.available)) {
            const SplitPlacement q = placeSplitWindows(narrower, topPicture, p.top, bottomPicture, p.bottom);
            if (q.top == p.top && q.bottom == p.bottom)
                p = q;
        }
        top.clientWidth = p.top.width;
        top.clientHeight = p.top.height;
        top.positioned = true;
        top.position = p.topAt;
        bottom.clientWidth = p.bottom.width;
        bottom.clientHeight = p.bottom.height;
        bottom.positioned = true;
        bottom.position = p.bottomAt;
    } else if (plans.size() == 1 && area.known()) {
        // Where the window system can place windows, beside the control window's room.
        DisplayWindowPlan& only = plans[0];
        const ClientSize size{only.clientWidth, only.clientHeight};
        only.positioned = true;
        only.position = placeCentred(areaLeavingRoom(area, int64_t{size.width} + area.frameWidth()), size);
    }

    for (const DisplayWindowPlan& plan : plans) {
        // What the windows start at is what is saved, until they are sized.
        settings_.clientWidth[plan.windowSlot] = plan.clientWidth;
        settings_.clientHeight[plan.windowSlot] = plan.clientHeight;
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
