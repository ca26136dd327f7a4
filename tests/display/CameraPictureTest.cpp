// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraPicture.h"

#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tavrin;
using namespace tavrin::display;

namespace {

struct OneFrame {
    explicit OneFrame(int32_t layoutId, uint64_t picture = 77) {
        frame.data.reset(new uint8_t[device::kFrameBufferBytes]());
        sim::SimulatedBoard::renderPicture(picture, frame.data.get());
        EXPECT_TRUE(convertFrame(frame, layoutId));
    }
    device::CaptureFrame frame;
};

uint32_t pixelAt(const std::vector<uint8_t>& out, std::size_t stride, int x, int y) {
    uint32_t v;
    std::memcpy(&v, out.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4, 4);
    return v;
}

} // namespace

TEST(CameraPicture, EveryLayoutsPictureLandsAtItsOwnPixelsOnBlack) {
    struct Case {
        int32_t layoutId;
        CameraPlacement expected;
    };
    const Case cases[] = {
        {device::kDualScreenLayout, {0, 0, 256, 384}},     // fills the camera's picture
        {device::kSingleScreenLayout, {8, 112, 240, 160}}, // in its middle
        {0, {0, 0, 0, 0}},                                 // never converted: black
    };
    constexpr std::size_t stride = kCameraStride + 64; // a consumer's padded rows
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layoutId);
        OneFrame f(device::kDualScreenLayout);
        if (c.layoutId == device::kSingleScreenLayout) {
            ASSERT_TRUE(convertFrame(f.frame, c.layoutId));
        }
        if (c.layoutId == 0) {
            f.frame.layout = {};
            f.frame.image.clear();
        }
        std::vector<uint8_t> out(stride * kCameraHeight, 0xAB);
        composeCameraPicture(f.frame, out.data(), stride);

        const CameraPlacement at =
            c.layoutId ? placeOnCamera(f.frame.layout.width, f.frame.layout.height) : CameraPlacement{};
        EXPECT_EQ(at.x, c.expected.x);
        EXPECT_EQ(at.y, c.expected.y);
        EXPECT_EQ(at.width, c.expected.width);
        EXPECT_EQ(at.height, c.expected.height);
        int wrong = 0;
        for (int y = 0; y < kCameraHeight; ++y) {
            for (int x = 0; x < kCameraWidth; ++x) {
                const bool inside = x >= at.x && x < at.x + at.width && y >= at.y && y < at.y + at.height;
                uint32_t want = 0;
                if (inside)
                    std::memcpy(&want,
                                f.frame.image.data() +
                                    (static_cast<std::size_t>(y - at.y) * static_cast<std::size_t>(at.width) +
                                     static_cast<std::size_t>(x - at.x)) *
                                        4,
                                4);
                wrong += pixelAt(out, stride, x, y) != want;
            }
            // The padding of each row belongs to the consumer and is left alone.
            wrong += out[static_cast<std::size_t>(y) * stride + kCameraStride] != 0xAB;
        }
        EXPECT_EQ(wrong, 0);
    }
}
