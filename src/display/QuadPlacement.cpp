// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/QuadPlacement.h"

namespace tavrin::display {

uint32_t textureSize(uint32_t n) {
    uint32_t size = 1;
    while (size < n && size < 0x80000000u)
        size <<= 1;
    return size;
}

float quadScale(const QuadInput& in) {
    if (in.width == 0 || in.height == 0)
        return 0.0f;
    const auto cw = static_cast<uint32_t>(in.backBufferWidth < 0 ? 0 : in.backBufferWidth);
    const auto ch = static_cast<uint32_t>(in.backBufferHeight < 0 ? 0 : in.backBufferHeight);
    // Ties go to the height.
    float s = in.width * ch > in.height * cw ? static_cast<float>(cw) / static_cast<float>(in.width)
                                             : static_cast<float>(ch) / static_cast<float>(in.height);
    if (in.shrink)
        s = s * (1.0f - in.maximizedShrink);
    return s;
}

Quad placeQuad(const QuadInput& in) {
    const float s = quadScale(in);
    const float cx = static_cast<float>(in.backBufferWidth) * 0.5f - 0.5f;
    const float cy = static_cast<float>(in.backBufferHeight) * 0.5f - 0.5f;
    const float hw = static_cast<float>(in.width) * s * 0.5f;
    const float hh = static_cast<float>(in.height) * s * 0.5f;
    const float uMax =
        in.textureWidth ? static_cast<float>(in.width) / static_cast<float>(in.textureWidth) : 0.0f;
    const float vMax =
        in.textureHeight ? static_cast<float>(in.height) / static_cast<float>(in.textureHeight) : 0.0f;
    return {{
        {cx - hw, cy + hh, 0.0f, 1.0f, 0.0f, vMax},
        {cx - hw, cy - hh, 0.0f, 1.0f, 0.0f, 0.0f},
        {cx + hw, cy + hh, 0.0f, 1.0f, uMax, vMax},
        {cx + hw, cy - hh, 0.0f, 1.0f, uMax, 0.0f},
    }};
}

} // namespace tavrin::display
