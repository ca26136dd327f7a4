// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraPicture.h"

#include "device/ScreenLayout.h"
#include "display/PictureArrangement.h"

#include <cstddef>
#include <cstring>

namespace tavrin::display {

CameraCanvas cameraCanvas(const base::PictureOptions& picture) {
    const device::ScreenLayout& dual = device::screenLayouts[device::kDualScreenLayout];
    const ArrangedPicture a = arrangePicture(picture, true, dual.width, dual.height);
    return {a.width, a.height};
}

namespace {

// Where pixel (x, y) of an unturned w x h picture lies after a clockwise turn.
void turnPixel(int32_t& x, int32_t& y, int32_t w, int32_t h, int32_t rotation) {
    const int32_t ux = x, uy = y;
    switch (rotation) {
    case 90:
        x = h - 1 - uy, y = ux;
        break;
    case 180:
        x = w - 1 - ux, y = h - 1 - uy;
        break;
    case 270:
        x = uy, y = w - 1 - ux;
        break;
    default:
        break;
    }
}

} // namespace

void composeCameraPicture(const device::CaptureFrame& frame, const base::PictureOptions& picture,
                          const CameraCanvas& canvas, uint8_t* out, std::size_t stride) {
    for (int32_t y = 0; y < canvas.height; ++y)
        std::memset(out + static_cast<std::size_t>(y) * stride, 0, canvas.stride());
    const int32_t w = frame.layout.width;
    const int32_t h = frame.layout.height;
    if (w <= 0 || h <= 0 ||
        frame.image.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4)
        return;
    const ArrangedPicture a =
        arrangePicture(picture, frame.layout.layoutId == device::kDualScreenLayout, w, h);
    // At its own pixels where it fits; otherwise (the arrangement changed while the
    // camera was published) at the largest scale that fits, scale = num / den.
    int64_t num = 1, den = 1;
    if (a.width > canvas.width || a.height > canvas.height) {
        const bool byWidth = int64_t{canvas.width} * a.height <= int64_t{canvas.height} * a.width;
        num = byWidth ? canvas.width : canvas.height;
        den = byWidth ? a.width : a.height;
    }
    const int32_t left = static_cast<int32_t>((canvas.width - a.width * num / den) / 2);
    const int32_t top = static_cast<int32_t>((canvas.height - a.height * num / den) / 2);
    const bool turned = a.rotation == 90 || a.rotation == 270;
    const int32_t unturnedW = turned ? a.height : a.width;
    const int32_t unturnedH = turned ? a.width : a.height;
    for (int i = 0; i < a.count; ++i) {
        const Pane& p = a.panes[static_cast<std::size_t>(i)];
        for (int32_t sy = 0; sy < p.height; ++sy) {
            const uint8_t* src =
                frame.image.data() + (static_cast<std::size_t>(p.srcY + sy) * static_cast<std::size_t>(w) +
                                      static_cast<std::size_t>(p.srcX)) *
                                         4;
            // Where source pixel sx of this row lands, as a byte offset.
            const auto landing = [&](int32_t sx) {
                int32_t x = p.dstX + sx, y = p.dstY + sy;
                turnPixel(x, y, unturnedW, unturnedH, a.rotation);
                x = left + static_cast<int32_t>(x * num / den);
                y = top + static_cast<int32_t>(y * num / den);
                return static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(stride) + x * 4;
            };
            if (num != den) {
                for (int32_t sx = 0; sx < p.width; ++sx)
                    std::memcpy(out + landing(sx), src + static_cast<std::size_t>(sx) * 4, 4);
            } else if (a.rotation == 0) {
                std::memcpy(out + landing(0), src, static_cast<std::size_t>(p.width) * 4);
            } else {
                // At its own pixels a row lands as a line with one step between pixels.
                const std::ptrdiff_t first = landing(0);
                const std::ptrdiff_t step = p.width > 1 ? landing(1) - first : 0;
                for (int32_t sx = 0; sx < p.width; ++sx)
                    std::memcpy(out + first + sx * step, src + static_cast<std::size_t>(sx) * 4, 4);
            }
        }
    }
}

} // namespace tavrin::display
