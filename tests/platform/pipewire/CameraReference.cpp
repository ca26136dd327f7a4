// SPDX-License-Identifier: GPL-2.0-or-later
#include "CameraReference.h"

#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <algorithm>
#include <memory>

namespace tavrin::testing {

std::vector<uint8_t> cameraPictureOf(uint32_t n, int32_t layoutId) {
    device::CaptureFrame frame;
    frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
    sim::SimulatedBoard::renderPicture(n, frame.data.get());
    display::convertFrame(frame, layoutId);
    std::vector<uint8_t> out(display::kCameraBytes);
    display::composeCameraPicture(frame, out.data(), display::kCameraStride);
    return out;
}

uint64_t pictureHash(std::span<const uint8_t> bytes) {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

CameraReference::CameraReference(int32_t layoutId, uint32_t count) : layoutId_(layoutId) {
    for (uint32_t n = 0; n < count; ++n)
        byHash_.emplace(pictureHash(cameraPictureOf(n, layoutId)), n);
}

std::vector<uint32_t> CameraReference::find(std::span<const uint8_t> bgrx) const {
    std::vector<uint32_t> found;
    if (bgrx.size() != display::kCameraBytes)
        return found;
    const auto [from, to] = byHash_.equal_range(pictureHash(bgrx));
    for (auto it = from; it != to; ++it) {
        const std::vector<uint8_t> expected = cameraPictureOf(it->second, layoutId_);
        if (std::equal(expected.begin(), expected.end(), bgrx.begin()))
            found.push_back(it->second);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace tavrin::testing
