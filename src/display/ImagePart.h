// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"

#include <cstdint>

namespace tavrin::display {

// Which part of a converted image a display window shows.
enum ImagePart : int32_t { PART_WHOLE = 0, PART_TOP = 1, PART_BOTTOM = 2 };

// Where the rows of one part lie in a frame's image.
struct PartSource {
    const uint8_t* pixels = nullptr; // first pixel of the first row, 4 bytes a pixel
    int32_t rowPixels = 0;           // distance between rows, in pixels
    int32_t width = 0;               // pixels to take from each row
    int32_t height = 0;              // rows to take
};

// The part of `frame.image` that a window of native size width x height showing
// `part` copies: from pixel 0 for the whole image and the top part, from the
// layout's bottomOffset for the bottom part, rows one layout width apart. Clipped
// to what the image holds, so a frame converted for another layout (or never
// converted) is never read beyond its end; empty when nothing fits.
PartSource imagePartSource(const device::CaptureFrame& frame, ImagePart part, int32_t width, int32_t height);

} // namespace tavrin::display
