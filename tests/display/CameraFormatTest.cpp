// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

using namespace tavrin::display;

namespace {

struct Rgb {
    uint8_t r, g, b;
};

// A BGRx picture of w x h with `pad` spare bytes (0xEE) at the end of each row.
struct Bgrx {
    int32_t w, h;
    std::size_t stride;
    std::vector<uint8_t> bytes;
    Bgrx(int32_t width, int32_t height, std::size_t pad = 0)
        : w(width), h(height), stride(static_cast<std::size_t>(width) * 4 + pad),
          bytes(stride * static_cast<std::size_t>(height), 0xEE) {}
    void set(int32_t x, int32_t y, Rgb c) {
        uint8_t* p = &bytes[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4];
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
    }
    void fill(Rgb c) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                set(x, y, c);
    }
    std::vector<uint8_t> i420() const {
        const CameraCanvas canvas{w, h};
        std::vector<uint8_t> out(cameraBufferLayout(CameraFormat::I420, canvas).bytes, 0x55);
        bgrxToI420(bytes.data(), stride, canvas, out.data());
        return out;
    }
};

} // namespace

// Studio-range BT.601 values of the colour bars, as the standard's equations give
// them rounded (Y = 16 + 219 E'y, Cb/Cr = 128 + 224 E'cb/cr).
TEST(CameraFormat, KnownColoursGiveTheirBt601LimitedRangeValues) {
    struct Case {
        const char* name;
        Rgb rgb;
        uint8_t y, u, v;
    };
    const Case cases[] = {
        {"black", {0, 0, 0}, 16, 128, 128},        {"white", {255, 255, 255}, 235, 128, 128},
        {"grey", {128, 128, 128}, 126, 128, 128},  {"red", {255, 0, 0}, 81, 90, 240},
        {"green", {0, 255, 0}, 145, 54, 34},       {"blue", {0, 0, 255}, 41, 240, 110},
        {"yellow", {255, 255, 0}, 210, 16, 146},   {"cyan", {0, 255, 255}, 170, 166, 16},
        {"magenta", {255, 0, 255}, 106, 202, 222},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lumaBt601(c.rgb.r, c.rgb.g, c.rgb.b), c.y);
        EXPECT_EQ(chromaUBt601(c.rgb.r, c.rgb.g, c.rgb.b, 1), c.u);
        EXPECT_EQ(chromaVBt601(c.rgb.r, c.rgb.g, c.rgb.b, 1), c.v);
        // The same through a whole picture: a 2 x 2 block of the colour.
        Bgrx pic(2, 2);
        pic.fill(c.rgb);
        EXPECT_EQ(pic.i420(), (std::vector<uint8_t>{c.y, c.y, c.y, c.y, c.u, c.v}));
    }
}

TEST(CameraFormat, EachChromaSampleIsTheAverageOfItsTwoByTwoBlock) {
    // Blocks (left to right): red over blue; green and three black; white everywhere.
    Bgrx pic(6, 2);
    pic.set(0, 0, {255, 0, 0}), pic.set(1, 0, {255, 0, 0}), pic.set(0, 1, {0, 0, 255}),
        pic.set(1, 1, {0, 0, 255});
    pic.set(2, 0, {0, 0, 0}), pic.set(3, 0, {0, 255, 0}), pic.set(2, 1, {0, 0, 0}), pic.set(3, 1, {0, 0, 0});
    for (int32_t x = 4; x < 6; ++x)
        pic.set(x, 0, {255, 255, 255}), pic.set(x, 1, {255, 255, 255});
    const std::vector<uint8_t> out = pic.i420();
    ASSERT_EQ(out.size(), 6u * 2 + 3 + 3);
    // Luma stays per pixel; rows one after the other.
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12),
              (std::vector<uint8_t>{81, 81, 16, 145, 235, 235, 41, 41, 16, 16, 235, 235}));
    // Red over blue averages to (127.5, 0, 127.5); green and black to (0, 63.75, 0).
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.begin() + 15),
              (std::vector<uint8_t>{165, 109, 128}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 15, out.end()), (std::vector<uint8_t>{175, 105, 128}));
    // The averages agree with the chroma of the summed colours.
    EXPECT_EQ(chromaUBt601(510, 0, 510, 4), 165);
    EXPECT_EQ(chromaVBt601(0, 255, 0, 4), 105);
}

TEST(CameraFormat, OddSizesAndPaddedRowsKeepEveryPlaneInItsPlace) {
    // 3 x 3 with 8 spare bytes a row: chroma is 2 x 2; the last column and row stand alone.
    Bgrx pic(3, 3, 8);
    pic.fill({0, 0, 0});
    pic.set(2, 0, {255, 0, 0}); // block (1, 0): the last column's two pixels, both red
    pic.set(2, 1, {255, 0, 0});
    pic.set(0, 2, {0, 0, 255});   // block (0, 1): the last row's two pixels, blue and black
    pic.set(2, 2, {0, 255, 255}); // block (1, 1): the corner pixel alone, cyan
    const CameraBufferLayout l = cameraBufferLayout(CameraFormat::I420, {3, 3});
    EXPECT_EQ(l.stride, 3u);
    EXPECT_EQ(l.chromaStride, 2u);
    EXPECT_EQ(l.uOffset, 9u);
    EXPECT_EQ(l.vOffset, 13u);
    EXPECT_EQ(l.bytes, 17u);
    const std::vector<uint8_t> out = pic.i420();
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 9),
              (std::vector<uint8_t>{16, 16, 81, 16, 16, 81, 41, 16, 170}));
    // Blocks in order: black, red, half blue, cyan.
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 9, out.begin() + 13),
              (std::vector<uint8_t>{128, 90, 184, 166}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 13, out.end()), (std::vector<uint8_t>{128, 240, 119, 16}));
}

TEST(CameraFormat, PackedFormatsAreTheCanvasAndOpaqueMeansAlpha255) {
    const CameraCanvas canvas{256, 384};
    for (CameraFormat f : {CameraFormat::Bgrx, CameraFormat::Bgra}) {
        const CameraBufferLayout l = cameraBufferLayout(f, canvas);
        EXPECT_EQ(l.stride, 1024u);
        EXPECT_EQ(l.bytes, 1024u * 384);
    }
    EXPECT_EQ(cameraBufferLayout(CameraFormat::I420, canvas).bytes, 256u * 384 * 3 / 2);

    Bgrx pic(3, 2, 4);
    pic.fill({10, 20, 30});
    makeOpaque(pic.bytes.data(), pic.stride, {3, 2});
    for (int32_t y = 0; y < 2; ++y) {
        const uint8_t* row = &pic.bytes[static_cast<std::size_t>(y) * pic.stride];
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ((std::array<uint8_t, 4>{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]}),
                      (std::array<uint8_t, 4>{30, 20, 10, 255}));
        EXPECT_EQ(row[12], 0xEE) << "the padding is left alone";
    }
    EXPECT_STREQ(cameraFormatName(CameraFormat::I420), "I420");
}

// A wide picture of varied colours, so that the conversion's groups of pixels and the
// rest of each row both run: every sample as the single-pixel functions give it.
TEST(CameraFormat, AWidePictureConvertsEveryPixelAsTheSingleColoursDo) {
    const int32_t w = 21, h = 5;
    Bgrx pic(w, h, 12);
    uint32_t seed = 12345;
    const auto next = [&] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            pic.set(x, y, {next(), next(), next()});
    const auto colour = [&](int32_t x, int32_t y) {
        const uint8_t* p =
            &pic.bytes[static_cast<std::size_t>(y) * pic.stride + static_cast<std::size_t>(x) * 4];
        return Rgb{p[2], p[1], p[0]};
    };
    const std::vector<uint8_t> out = pic.i420();
    const CameraBufferLayout l = cameraBufferLayout(CameraFormat::I420, {w, h});
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const Rgb c = colour(x, y);
            ASSERT_EQ(out[static_cast<std::size_t>(y * w + x)], lumaBt601(c.r, c.g, c.b)) << x << "," << y;
        }
    for (int32_t cy = 0; cy < (h + 1) / 2; ++cy)
        for (int32_t cx = 0; cx < (w + 1) / 2; ++cx) {
            uint32_t r = 0, g = 0, b = 0, n = 0;
            for (int32_t y = 2 * cy; y < std::min(h, 2 * cy + 2); ++y)
                for (int32_t x = 2 * cx; x < std::min(w, 2 * cx + 2); ++x, ++n) {
                    const Rgb c = colour(x, y);
                    r += c.r, g += c.g, b += c.b;
                }
            // 1 or 2 pixels at the odd edges: scaled to 4 so that the average stays the same.
            const uint32_t k = 4 / n;
            const std::size_t at =
                static_cast<std::size_t>(cy) * l.chromaStride + static_cast<std::size_t>(cx);
            ASSERT_EQ(out[l.uOffset + at], chromaUBt601(r * k, g * k, b * k, 4)) << cx << "," << cy;
            ASSERT_EQ(out[l.vOffset + at], chromaVBt601(r * k, g * k, b * k, 4)) << cx << "," << cy;
        }

    Bgrx copy = pic;
    makeOpaque(copy.bytes.data(), copy.stride, {w, h});
    for (std::size_t i = 0; i < copy.bytes.size(); ++i) {
        const std::size_t inRow = i % copy.stride;
        const bool alpha = inRow < static_cast<std::size_t>(w) * 4 && inRow % 4 == 3;
        ASSERT_EQ(copy.bytes[i], alpha ? 255 : pic.bytes[i]) << i;
    }
}
