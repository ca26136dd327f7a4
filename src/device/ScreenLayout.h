// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>

namespace tavrin::device {

// One row of the layout table. Pixel counts, not bytes.
struct ScreenLayout {
    int32_t layoutId = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t topWidth = 0;
    int32_t topHeight = 0;
    int32_t bottomWidth = 0;
    int32_t bottomHeight = 0;
    int32_t bottomOffset = 0;

    friend bool operator==(const ScreenLayout&, const ScreenLayout&) = default;
};

constexpr int kLayoutCount = 8;
constexpr int kDualScreenLayout = 6;
constexpr int kSingleScreenLayout = 7;

// Rows 1 to 5 are reserved for other screen geometries; nothing selects them.
inline constexpr std::array<ScreenLayout, kLayoutCount> screenLayouts = {{
    {-1, 0, 0, 0, 0, 0, 0, 0},
    {1, 0, 0, 0, 0, 0, 0, 0},
    {2, 0, 0, 0, 0, 0, 0, 0},
    {3, 0, 0, 0, 0, 0, 0, 0},
    {4, 0, 0, 0, 0, 0, 0, 0},
    {5, 0, 0, 0, 0, 0, 0, 0},
    {6, 256, 384, 256, 192, 256, 192, 49152},
    {7, 240, 160, 240, 160, 240, 160, 0},
}};

// True for an id that names a row of the table.
constexpr bool isLayoutIndex(int32_t id) {
    return id >= 0 && id < kLayoutCount;
}

} // namespace tavrin::device
