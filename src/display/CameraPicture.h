// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"
#include "device/ScreenLayout.h"

#include <cstddef>
#include <cstdint>

namespace tavrin::display {

// The camera's picture has one size for the life of the program: consumers that
// cannot follow a new size (GStreamer's pipewiresrc of Debian 12, a scene fixed
// to one size) keep getting whole pictures across a layout change. The size is
// the largest picture, the dual-screen one; a smaller picture sits in its middle
// on black, at its own pixels.
inline constexpr int32_t kCameraWidth = device::screenLayouts[device::kDualScreenLayout].width;
inline constexpr int32_t kCameraHeight = device::screenLayouts[device::kDualScreenLayout].height;
inline constexpr int32_t kCameraFramesPerSecond = 60;  // the board's pace
inline constexpr std::size_t kCameraBytesPerPixel = 4; // B, G, R, X as the converted image
inline constexpr std::size_t kCameraStride = kCameraWidth * kCameraBytesPerPixel;
inline constexpr std::size_t kCameraBytes = kCameraStride * kCameraHeight;

// Where a picture of `width` x `height` lies on the camera's picture.
struct CameraPlacement {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};
CameraPlacement placeOnCamera(int32_t width, int32_t height);

// Writes the camera's picture of `frame` (its converted image, as the single
// picture window shows it) to `out`, kCameraHeight rows `stride` bytes apart.
// A frame with no picture gives black.
void composeCameraPicture(const device::CaptureFrame& frame, uint8_t* out, std::size_t stride);

} // namespace tavrin::display
