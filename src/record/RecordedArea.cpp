// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/RecordedArea.h"

namespace tavrin::record {

RecordedArea recordedArea(uint32_t recordScreens, const device::ScreenLayout& layout) {
    switch (recordScreens) {
    case 1:
        return {layout.topWidth, layout.topHeight, 0};
    case 2:
        return {layout.bottomWidth, layout.bottomHeight, layout.bottomOffset};
    default:
        return {layout.width, layout.height, 0};
    }
}

RecordedArea recordedArea(uint32_t recordScreens, int32_t displayMode) {
    const int32_t row = device::isLayoutIndex(displayMode) ? displayMode : device::kDualScreenLayout;
    return recordedArea(recordScreens, device::screenLayouts[row]);
}

} // namespace tavrin::record
