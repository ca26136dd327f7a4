// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/ProgramOptions.h"
#include "device/CaptureFrame.h"

#include <cstddef>
#include <cstdint>

namespace tavrin::display {

inline constexpr int32_t kCameraFramesPerSecond = 60;  // the board's pace
inline constexpr std::size_t kCameraBytesPerPixel = 4; // B, G, R, X as the converted image

// The camera's picture keeps one size while it is published: consumers that cannot
// follow a new size (GStreamer's pipewiresrc of Debian 12, a scene fixed to one
// size) keep getting whole pictures across a change of layout or arrangement. The
// size is that of the dual-screen picture as the options arrange it when the
// camera is published, the largest picture of those options.
struct CameraCanvas {
    int32_t width = 0;
    int32_t height = 0;
    std::size_t stride() const { return static_cast<std::size_t>(width) * kCameraBytesPerPixel; }
    std::size_t bytes() const { return stride() * static_cast<std::size_t>(height); }
};
CameraCanvas cameraCanvas(const base::PictureOptions& picture);

// Writes the camera's picture of `frame` to `out` (canvas.height rows `stride`
// bytes apart): its converted image arranged by `picture` as the single picture
// window shows it, centred on black at its own pixels, or shrunk to fit when the
// arrangement changed since the canvas was chosen. A frame with no picture gives black.
void composeCameraPicture(const device::CaptureFrame& frame, const base::PictureOptions& picture,
                          const CameraCanvas& canvas, uint8_t* out, std::size_t stride);

} // namespace tavrin::display
