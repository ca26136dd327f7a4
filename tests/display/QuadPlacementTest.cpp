// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/QuadPlacement.h"

#include <gtest/gtest.h>

using namespace tavrin::display;

namespace {

QuadInput input(uint32_t w, uint32_t h, int32_t cw, int32_t ch) {
    QuadInput in;
    in.width = w;
    in.height = h;
    in.textureWidth = textureSize(w);
    in.textureHeight = textureSize(h);
    in.backBufferWidth = cw;
    in.backBufferHeight = ch;
    return in;
}

} // namespace

TEST(TextureSize, SmallestPowerOfTwoNotBelow) {
    EXPECT_EQ(textureSize(0), 1u);
    EXPECT_EQ(textureSize(1), 1u);
    EXPECT_EQ(textureSize(160), 256u);
    EXPECT_EQ(textureSize(192), 256u);
    EXPECT_EQ(textureSize(240), 256u);
    EXPECT_EQ(textureSize(256), 256u);
    EXPECT_EQ(textureSize(257), 512u);
    EXPECT_EQ(textureSize(384), 512u);
}

TEST(PlaceQuad, DoubleSizeWindowCoversTheClientAreaExactly) {
    const Quad q = placeQuad(input(256, 384, 512, 768));
    EXPECT_FLOAT_EQ(quadScale(input(256, 384, 512, 768)), 2.0f);
    // Strip order: bottom left, top left, bottom right, top right.
    EXPECT_FLOAT_EQ(q[0].x, -0.5f);
    EXPECT_FLOAT_EQ(q[0].y, 767.5f);
    EXPECT_FLOAT_EQ(q[1].x, -0.5f);
    EXPECT_FLOAT_EQ(q[1].y, -0.5f);
    EXPECT_FLOAT_EQ(q[2].x, 511.5f);
    EXPECT_FLOAT_EQ(q[2].y, 767.5f);
    EXPECT_FLOAT_EQ(q[3].x, 511.5f);
    EXPECT_FLOAT_EQ(q[3].y, -0.5f);
    EXPECT_FLOAT_EQ(q[0].u, 0.0f);
    EXPECT_FLOAT_EQ(q[0].v, 0.75f);
    EXPECT_FLOAT_EQ(q[1].v, 0.0f);
    EXPECT_FLOAT_EQ(q[2].u, 1.0f);
    EXPECT_FLOAT_EQ(q[2].v, 0.75f);
    EXPECT_FLOAT_EQ(q[3].u, 1.0f);
    EXPECT_FLOAT_EQ(q[3].v, 0.0f);
    for (const QuadVertex& v : q) {
        EXPECT_EQ(v.z, 0.0f);
        EXPECT_EQ(v.rhw, 1.0f);
    }
}

TEST(PlaceQuad, WideClientAreaFitsTheHeightWithBarsBothSides) {
    QuadInput in = input(256, 384, 1920, 1080);
    EXPECT_FLOAT_EQ(quadScale(in), 2.8125f);
    Quad q = placeQuad(in);
    EXPECT_FLOAT_EQ(q[2].x - q[0].x, 720.0f);
    EXPECT_FLOAT_EQ(q[0].x, 959.5f - 360.0f);
    EXPECT_FLOAT_EQ(q[1].y, -0.5f);
    EXPECT_FLOAT_EQ(q[0].y, 1079.5f);

    in.shrink = true;
    in.maximizedShrink = 0.04f;
    EXPECT_FLOAT_EQ(quadScale(in), 2.7f);
    q = placeQuad(in);
    EXPECT_NEAR(q[2].x - q[0].x, 256 * 2.7f, 1e-3);
    EXPECT_NEAR(q[0].y - q[1].y, 384 * 2.7f, 1e-3);
    // Still centred.
    EXPECT_FLOAT_EQ((q[0].x + q[2].x) / 2, 959.5f);
    EXPECT_FLOAT_EQ((q[0].y + q[1].y) / 2, 539.5f);
}

TEST(PlaceQuad, TallClientAreaFitsTheWidth) {
    QuadInput in = input(256, 192, 512, 1000);
    EXPECT_FLOAT_EQ(quadScale(in), 2.0f);
    const Quad q = placeQuad(in);
    EXPECT_FLOAT_EQ(q[0].x, -0.5f);
    EXPECT_FLOAT_EQ(q[2].x, 511.5f);
    EXPECT_FLOAT_EQ(q[1].y, 499.5f - 192.0f);
    EXPECT_FLOAT_EQ(q[0].y, 499.5f + 192.0f);
}

TEST(PlaceQuad, ExactAspectTieTakesTheHeightAndScaleIsNotWholeNumbersOnly) {
    // 240 x 160 in 360 x 240: both ratios give 1.5.
    EXPECT_FLOAT_EQ(quadScale(input(240, 160, 360, 240)), 1.5f);
    EXPECT_FLOAT_EQ(quadScale(input(256, 384, 300, 1000)), 300.0f / 256.0f);
}

TEST(PlaceQuad, SingleScreenUsesPartOfItsTexture) {
    const QuadInput in = input(240, 160, 240, 160);
    EXPECT_EQ(in.textureWidth, 256u);
    EXPECT_EQ(in.textureHeight, 256u);
    const Quad q = placeQuad(in);
    EXPECT_FLOAT_EQ(q[3].u, 0.9375f);
    EXPECT_FLOAT_EQ(q[0].v, 0.625f);
    EXPECT_FLOAT_EQ(q[0].x, -0.5f);
    EXPECT_FLOAT_EQ(q[3].x, 239.5f);
}

TEST(PlaceQuad, ShrinkOnlyWhenAsked) {
    QuadInput in = input(256, 384, 512, 768);
    in.maximizedShrink = 0.08f;
    EXPECT_FLOAT_EQ(quadScale(in), 2.0f);
    in.shrink = true;
    EXPECT_FLOAT_EQ(quadScale(in), 2.0f * 0.92f);
}

TEST(PlaceQuad, EmptyPartOrClientGivesAnEmptyQuadNotInfinity) {
    EXPECT_EQ(quadScale(input(0, 0, 512, 768)), 0.0f);
    const Quad q = placeQuad(input(0, 0, 512, 768));
    EXPECT_FLOAT_EQ(q[0].x, q[2].x);
    EXPECT_EQ(quadScale(input(256, 384, 0, 0)), 0.0f);
}
