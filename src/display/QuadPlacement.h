// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>

namespace tavrin::display {

// One corner of the picture quad: x and y in client pixels with pixel centres on
// whole numbers (so a quad from -0.5 to N - 0.5 covers exactly N pixels).
struct QuadVertex {
    float x, y, z, rhw, u, v;
};

// The four corners in triangle-strip order: bottom left, top left, bottom right, top right.
using Quad = std::array<QuadVertex, 4>;

struct QuadInput {
    uint32_t width = 0; // native size of the image part
    uint32_t height = 0;
    uint32_t textureWidth = 0; // power-of-two texture that holds it
    uint32_t textureHeight = 0;
    int32_t backBufferWidth = 0; // client area
    int32_t backBufferHeight = 0;
    bool shrink = false; // shrinkWhenMaximized is set and the window is maximized
    float maximizedShrink = 0.0f;
};

// Smallest power of two not below n (1 for 0).
uint32_t textureSize(uint32_t n);

// The largest scale at which the part fits the client area, in single precision.
float quadScale(const QuadInput& in);

// Places the part centred in the client area at quadScale, the rest left black.
Quad placeQuad(const QuadInput& in);

} // namespace tavrin::display
