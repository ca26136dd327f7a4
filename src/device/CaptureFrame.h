// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ScreenLayout.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tavrin::device {

constexpr std::size_t kFrameBufferBytes = 197120; // 385 USB packets of 512 bytes
constexpr std::size_t kPictureBytes = 196608;     // 192 rows of 512 16-bit words
constexpr std::size_t kPictureWords = kPictureBytes / 2;

enum FrameResult : int32_t { FRAME_OK = 0, FRAME_SKIP = 1, FRAME_ERROR = 2 };

class FrameQueue;

// One frame record. Frames are made once by FramePool and recycled for the life
// of the pool; nothing here is allocated per frame.
struct CaptureFrame {
    std::unique_ptr<uint8_t[]> data; // kFrameBufferBytes, the device buffer
    std::vector<uint8_t> image;      // converted picture, 4 bytes a pixel (B, G, R, 0)
    device::ScreenLayout layout;     // the row `image` was built for; layoutId 0 = never built
    int32_t result = FRAME_OK;
    int64_t sampleTime = 0;
    int32_t refCount = 0;
    std::mutex lock;            // guards refCount only
    FrameQueue* home = nullptr; // the free-frame queue that the last release returns it to

    // Pixel word i of the device buffer (little-endian on the wire).
    uint16_t word(std::size_t i) const { return static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)); }
};

} // namespace tavrin::device
