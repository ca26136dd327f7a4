// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraPicture.h"

#include <algorithm>
#include <cstring>

namespace tavrin::display {

CameraPlacement placeOnCamera(int32_t width, int32_t height) {
    width = std::clamp(width, 0, kCameraWidth);
    height = std::clamp(height, 0, kCameraHeight);
    return {(kCameraWidth - width) / 2, (kCameraHeight - height) / 2, width, height};
}

void composeCameraPicture(const device::CaptureFrame& frame, uint8_t* out, std::size_t stride) {
    const int32_t w = frame.layout.width;
    const int32_t h = frame.layout.height;
    const bool hasPicture =
        w > 0 && h > 0 && frame.image.size() >= static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
    const CameraPlacement at = hasPicture ? placeOnCamera(w, h) : CameraPlacement{};
    const std::size_t rowBytes = static_cast<std::size_t>(at.width) * kCameraBytesPerPixel;
    const std::size_t left = static_cast<std::size_t>(at.x) * kCameraBytesPerPixel;
    for (int32_t y = 0; y < kCameraHeight; ++y) {
        uint8_t* row = out + static_cast<std::size_t>(y) * stride;
        if (y < at.y || y >= at.y + at.height) {
            std::memset(row, 0, kCameraStride);
            continue;
        }
        const uint8_t* src =
            frame.image.data() + static_cast<std::size_t>(y - at.y) * static_cast<std::size_t>(w) * 4;
        std::memset(row, 0, left);
        std::memcpy(row + left, src, rowBytes);
        std::memset(row + left + rowBytes, 0, kCameraStride - left - rowBytes);
    }
}

} // namespace tavrin::display
