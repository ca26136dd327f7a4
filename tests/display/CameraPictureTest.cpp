// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraPicture.h"

#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

using namespace tavrin;
using namespace tavrin::display;

namespace {

// A picture of whole pixels, 0 for black, built here independently of the code under test.
struct Image {
    int32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(int32_t x, int32_t y) const { return px[static_cast<std::size_t>(y * w + x)]; }
};

Image of(const device::CaptureFrame& f, int32_t fromRow, int32_t rows) {
    Image out{f.layout.width, rows, std::vector<uint32_t>(static_cast<std::size_t>(f.layout.width * rows))};
    std::memcpy(out.px.data(), f.image.data() + static_cast<std::size_t>(fromRow * f.layout.width) * 4,
                out.px.size() * 4);
    return out;
}

Image make(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& pixel) {
    Image out{w, h, std::vector<uint32_t>(static_cast<std::size_t>(w * h))};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            out.px[static_cast<std::size_t>(y * w + x)] = pixel(x, y);
    return out;
}

Image placed(const Image& a, int32_t w, int32_t h, int32_t left, int32_t top) {
    return make(w, h, [&](int32_t x, int32_t y) {
        const bool in = x >= left && x < left + a.w && y >= top && y < top + a.h;
        return in ? a.at(x - left, y - top) : 0u;
    });
}

// a, `gap` black pixels, then b: beside it, or below it.
Image join(const Image& a, int32_t gap, const Image& b, bool beside) {
    const int32_t along = beside ? a.w : a.h;
    return make(beside ? a.w + gap + b.w : a.w, beside ? a.h : a.h + gap + b.h, [&](int32_t x, int32_t y) {
        const int32_t at = beside ? x : y;
        return at < along         ? a.at(x, y)
               : at < along + gap ? 0u
                                  : b.at(beside ? x - along - gap : x, beside ? y : y - along - gap);
    });
}

Image clockwise(const Image& a, int quarters) {
    Image out = a;
    for (int i = 0; i < quarters; ++i) {
        const Image in = out;
        out = make(in.h, in.w, [&](int32_t x, int32_t y) { return in.at(y, in.h - 1 - x); });
    }
    return out;
}

struct Composed {
    CameraCanvas canvas;
    Image picture;
    int paddingTouched = 0;
};

// The camera's picture into rows padded as a consumer's buffer may be.
Composed compose(const device::CaptureFrame& f, const base::PictureOptions& picture,
                 const CameraCanvas& canvas) {
    const std::size_t stride = canvas.stride() + 64;
    std::vector<uint8_t> out(stride * static_cast<std::size_t>(canvas.height), 0xAB);
    composeCameraPicture(f, picture, canvas, out.data(), stride);
    Composed c{
        canvas, make(canvas.width, canvas.height, [&](int32_t x, int32_t y) {
            uint32_t v;
            std::memcpy(
                &v, out.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4, 4);
            return v;
        })};
    for (int32_t y = 0; y < canvas.height; ++y)
        c.paddingTouched += out[static_cast<std::size_t>(y) * stride + canvas.stride()] != 0xAB;
    return c;
}

// The simulated board's picture, converted for a layout (frames do not move).
struct BoardFrame {
    explicit BoardFrame(int32_t layoutId) {
        frame.data.reset(new uint8_t[device::kFrameBufferBytes]());
        sim::SimulatedBoard::renderPicture(77, frame.data.get());
        EXPECT_TRUE(convertFrame(frame, layoutId));
    }
    device::CaptureFrame frame;
};

} // namespace

TEST(CameraPicture, ShowsThePictureAsTheWindowArrangesItOnACanvasOfThatSize) {
    const BoardFrame dualFrame(device::kDualScreenLayout), singleFrame(device::kSingleScreenLayout);
    const device::CaptureFrame &dual = dualFrame.frame, &single = singleFrame.frame;
    const Image top = of(dual, 0, 192), bottom = of(dual, 192, 192), screen = of(single, 0, 160);
    base::PictureOptions sideSwapped;
    sideSwapped.arrangement = base::Arrangement::SideBySide;
    sideSwapped.gap = 16;
    sideSwapped.swap = true;
    base::PictureOptions stackedTurned;
    stackedTurned.gap = 8;
    stackedTurned.rotation = 90;
    base::PictureOptions sideTurned;
    sideTurned.arrangement = base::Arrangement::SideBySide;
    sideTurned.rotation = 270;
    struct Case {
        const char* what;
        const device::CaptureFrame& frame;
        base::PictureOptions options;
        Image expected;
    };
    const Case cases[] = {
        {"both screens as they come", dual, {}, of(dual, 0, 384)},
        {"one screen in the middle", single, {}, placed(screen, 256, 384, 8, 112)},
        {"side by side, swapped, a gap", dual, sideSwapped, join(bottom, 16, top, true)},
        {"stacked with a gap, a quarter turn", dual, stackedTurned,
         clockwise(join(top, 8, bottom, false), 1)},
        {"one screen, three quarters turned, canvas of the turned pair", single, sideTurned,
         placed(clockwise(screen, 3), 192, 512, 16, 136)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Composed got = compose(c.frame, c.options, cameraCanvas(c.options));
        ASSERT_EQ(got.canvas.width, c.expected.w);
        ASSERT_EQ(got.canvas.height, c.expected.h);
        EXPECT_TRUE(got.picture.px == c.expected.px);
        EXPECT_EQ(got.paddingTouched, 0) << "each row's padding belongs to the consumer";
    }
}

TEST(CameraPicture, AChangedArrangementShrinksIntoThePublishedCanvasAndNoPictureIsBlack) {
    const BoardFrame dualFrame(device::kDualScreenLayout);
    const device::CaptureFrame& dual = dualFrame.frame;
    base::PictureOptions side;
    side.arrangement = base::Arrangement::SideBySide;
    const CameraCanvas published = cameraCanvas({});
    ASSERT_EQ(published.width, 256);
    ASSERT_EQ(published.height, 384);

    // 512 x 192 into 256 x 384: half size, 256 x 96, in the middle.
    const Image arranged = join(of(dual, 0, 192), 0, of(dual, 192, 192), true);
    const Composed got = compose(dual, side, published);
    int wrong = 0;
    for (int32_t y = 0; y < 384; ++y)
        for (int32_t x = 0; x < 256; ++x) {
            const uint32_t v = got.picture.at(x, y);
            if (y < 144 || y >= 240) {
                wrong += v != 0;
                continue;
            }
            // Each pixel stands for a 2 x 2 block of the picture and is one of its pixels.
            const int32_t sx = 2 * x, sy = 2 * (y - 144);
            wrong += v != arranged.at(sx, sy) && v != arranged.at(sx + 1, sy) &&
                     v != arranged.at(sx, sy + 1) && v != arranged.at(sx + 1, sy + 1);
        }
    EXPECT_EQ(wrong, 0);

    device::CaptureFrame never; // never converted
    const Composed black = compose(never, {}, published);
    EXPECT_EQ(std::count(black.picture.px.begin(), black.picture.px.end(), 0u), 256 * 384);
}
