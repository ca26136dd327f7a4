// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ScreenLayout.h"

#include <cstdint>

namespace tavrin::record {

struct RecordedArea {
    int32_t width = 0;
    int32_t height = 0;
    int32_t offset = 0; // pixel index of the top-left pixel in the frame's image

    friend bool operator==(const RecordedArea&, const RecordedArea&) = default;
};

// The part of the image a recording takes: 1 top screen, 2 bottom screen, else all.
RecordedArea recordedArea(uint32_t recordScreens, const device::ScreenLayout& layout);
// The same for a layout id; an id that names no row counts as the dual-screen layout.
RecordedArea recordedArea(uint32_t recordScreens, int32_t displayMode);

} // namespace tavrin::record
