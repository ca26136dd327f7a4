// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/PictureArrangement.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tavrin::display;

namespace {

struct Box {
    float left, top, right, bottom;
    float u, v; // texture coordinate at the corner shown top left
};

Box box(const Quad& q) {
    Box b{q[0].x, q[0].y, q[0].x, q[0].y, q[0].u, q[0].v};
    for (const QuadVertex& p : q) {
        b.left = std::min(b.left, p.x);
        b.top = std::min(b.top, p.y);
        b.right = std::max(b.right, p.x);
        b.bottom = std::max(b.bottom, p.y);
    }
    for (const QuadVertex& p : q)
        if (p.x == b.left && p.y == b.top) {
            b.u = p.u;
            b.v = p.v;
        }
    return b;
}

QuadInput client(int32_t partW, int32_t partH, int32_t cw, int32_t ch) {
    QuadInput in;
    in.width = static_cast<uint32_t>(partW);
    in.height = static_cast<uint32_t>(partH);
    in.textureWidth = textureSize(in.width);
    in.textureHeight = textureSize(in.height);
    in.backBufferWidth = cw;
    in.backBufferHeight = ch;
    return in;
}

} // namespace

// Arrangement x swap x gap x rotation x integer scaling, for the dual picture
// (256 x 384 in a 256 x 512 texture, the top screen in v 0 to 0.375) and the
// single-screen one: the picture's shape, and where each screen is drawn with
// which corner of the texture at its top left.
TEST(PictureArrangement, ScreensLandWhereTheOptionsSay) {
    using A = Arrangement;
    struct Case {
        PictureOptions options;
        bool two;
        int32_t partW, partH, cw, ch;
        int32_t pictureW, pictureH;
        std::vector<Box> quads;
    };
    const Case cases[] = {
        // Side by side with a 16-pixel gap: top left, bottom right, at 1x.
        {{A::SideBySide, 16, false, 0, false},
         true,
         256,
         384,
         528,
         192,
         528,
         192,
         {{-0.5f, -0.5f, 255.5f, 191.5f, 0, 0}, {271.5f, -0.5f, 527.5f, 191.5f, 0, 0.375f}}},
        // Swapped: the bottom screen on the left.
        {{A::SideBySide, 16, true, 0, false},
         true,
         256,
         384,
         528,
         192,
         528,
         192,
         {{-0.5f, -0.5f, 255.5f, 191.5f, 0, 0.375f}, {271.5f, -0.5f, 527.5f, 191.5f, 0, 0}}},
        // Stacked, swapped, no gap: bottom above top.
        {{A::Stacked, 0, true, 0, false},
         true,
         256,
         384,
         256,
         384,
         256,
         384,
         {{-0.5f, -0.5f, 255.5f, 191.5f, 0, 0.375f}, {-0.5f, 191.5f, 255.5f, 383.5f, 0, 0}}},
        // Stacked with a gap at 2x: the gap scales too.
        {{A::Stacked, 8, false, 0, false},
         true,
         256,
         384,
         512,
         784,
         256,
         392,
         {{-0.5f, -0.5f, 511.5f, 383.5f, 0, 0}, {-0.5f, 399.5f, 511.5f, 783.5f, 0, 0.375f}}},
        // A quarter turn of the stacked pair (one quad): 384 x 256 with the picture's
        // bottom-left texel at the top left, so its top screen is on the right.
        {{A::Stacked, 0, false, 90, false},
         true,
         256,
         384,
         384,
         256,
         384,
         256,
         {{-0.5f, -0.5f, 383.5f, 255.5f, 0, 0.75f}}},
        // Half a turn of the single-screen picture: upside down.
        {{A::Stacked, 0, false, 180, false},
         false,
         240,
         160,
         240,
         160,
         240,
         160,
         {{-0.5f, -0.5f, 239.5f, 159.5f, 0.9375f, 0.625f}}},
        // Three quarters of a side-by-side pair: 192 x 512, the top screen below.
        {{A::SideBySide, 0, false, 270, false},
         true,
         256,
         384,
         192,
         512,
         192,
         512,
         {{-0.5f, 255.5f, 191.5f, 511.5f, 1, 0}, {-0.5f, -0.5f, 191.5f, 255.5f, 1, 0.375f}}},
        // Integer scaling in 600 x 950: 2x (2.34 would fit), centred, black around.
        {{A::Stacked, 0, false, 0, true},
         true,
         256,
         384,
         600,
         950,
         256,
         384,
         {{43.5f, 90.5f, 555.5f, 858.5f, 0, 0}}},
        // A split window's screen turned: the rotation alone.
        {{A::SideBySide, 32, true, 90, false},
         false,
         256,
         192,
         192,
         256,
         192,
         256,
         {{-0.5f, -0.5f, 191.5f, 255.5f, 0, 0.75f}}},
    };
    for (const Case& c : cases) {
        const ArrangedPicture a = arrangePicture(c.options, c.two, c.partW, c.partH);
        EXPECT_EQ(a.width, c.pictureW) << c.options.rotation;
        EXPECT_EQ(a.height, c.pictureH) << c.options.rotation;
        const ArrangedQuads q =
            placeArrangedQuads(client(c.partW, c.partH, c.cw, c.ch), a, c.options.integerScale);
        ASSERT_EQ(q.count, static_cast<int>(c.quads.size())) << c.options.rotation;
        for (int i = 0; i < q.count; ++i) {
            const Box got = box(q.quads[static_cast<std::size_t>(i)]);
            const Box& want = c.quads[static_cast<std::size_t>(i)];
            const float gotValues[] = {got.left, got.top, got.right, got.bottom, got.u, got.v};
            const float wantValues[] = {want.left, want.top, want.right, want.bottom, want.u, want.v};
            for (std::size_t k = 0; k < 6; ++k)
                EXPECT_FLOAT_EQ(gotValues[k], wantValues[k])
                    << "rotation " << c.options.rotation << " quad " << i << " value " << k;
        }
    }
}

// The defaults draw exactly what placeQuad draws, bit for bit.
TEST(PictureArrangement, DefaultsAreThePlainQuad) {
    for (auto [w, h, cw, ch] : {std::array{256, 384, 512, 768}, std::array{256, 384, 1920, 1080},
                                std::array{240, 160, 333, 222}, std::array{256, 192, 300, 700}}) {
        const QuadInput in = client(w, h, cw, ch);
        const ArrangedPicture a = arrangePicture({}, h == 384, w, h);
        EXPECT_EQ(a.width, w);
        EXPECT_EQ(a.height, h);
        const ArrangedQuads q = placeArrangedQuads(in, a, false);
        ASSERT_EQ(q.count, 1);
        const Quad plain = placeQuad(in);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(q.quads[0][i].x, plain[i].x);
            EXPECT_EQ(q.quads[0][i].y, plain[i].y);
            EXPECT_EQ(q.quads[0][i].u, plain[i].u);
            EXPECT_EQ(q.quads[0][i].v, plain[i].v);
        }
    }
    // A gap out of range is held to 0 to 256; a rotation that is no quarter turn is none.
    EXPECT_EQ(arrangePicture({Arrangement::Stacked, 999, false, 45, false}, true, 256, 384).height,
              384 + 256);
    EXPECT_EQ(arrangePicture({Arrangement::Stacked, -5, false, 45, false}, true, 256, 384).rotation, 0);
}
