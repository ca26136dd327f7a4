// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/ImagePart.h"

#include <algorithm>

namespace tavrin::display {

PartSource imagePartSource(const device::CaptureFrame& frame, ImagePart part, int32_t width, int32_t height) {
    const device::ScreenLayout& layout = frame.layout;
    if (layout.width <= 0 || layout.height <= 0 || width <= 0 || height <= 0)
        return {};
    const int64_t start = part == PART_BOTTOM ? layout.bottomOffset : 0;
    const int64_t available = std::min<int64_t>(static_cast<int64_t>(frame.image.size() / 4),
                                                int64_t{layout.width} * layout.height);
    if (start < 0 || start >= available)
        return {};
    const int64_t rows = std::min<int64_t>(height, (available - start) / layout.width);
    if (rows <= 0)
        return {};
    PartSource source;
    source.pixels = frame.image.data() + start * 4;
    source.rowPixels = layout.width;
    source.width = std::min(width, layout.width);
    source.height = static_cast<int32_t>(rows);
    return source;
}

} // namespace tavrin::display
