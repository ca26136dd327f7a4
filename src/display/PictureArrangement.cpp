// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/PictureArrangement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavrin::display {

ArrangedPicture arrangePicture(const PictureOptions& options, bool twoScreens, int32_t partWidth,
                               int32_t partHeight) {
    ArrangedPicture a;
    a.rotation =
        options.rotation == 90 || options.rotation == 180 || options.rotation == 270 ? options.rotation : 0;
    const int32_t gap = std::clamp<int32_t>(options.gap, 0, PictureOptions::kMaxGap);
    const bool apart =
        twoScreens && (options.arrangement == Arrangement::SideBySide || gap > 0 || options.swap);
    int32_t w = partWidth;
    int32_t h = partHeight;
    if (!apart) {
        a.panes[0] = {0, 0, partWidth, partHeight, 0, 0};
        a.count = 1;
    } else {
        const int32_t screenH = partHeight / 2;
        Pane first{0, 0, partWidth, screenH, 0, 0};
        Pane second{0, screenH, partWidth, partHeight - screenH, 0, 0};
        if (options.swap)
            std::swap(first, second);
        if (options.arrangement == Arrangement::SideBySide) {
            second.dstX = first.width + gap;
            w = first.width + gap + second.width;
            h = std::max(first.height, second.height);
        } else {
            second.dstY = first.height + gap;
            h = first.height + gap + second.height;
        }
        a.panes = {first, second};
        a.count = 2;
    }
    const bool turned = a.rotation == 90 || a.rotation == 270;
    a.width = turned ? h : w;
    a.height = turned ? w : h;
    return a;
}

namespace {

// A point of the unturned picture (w x h) in the turned one, clockwise.
std::pair<float, float> turn(float x, float y, float w, float h, int32_t rotation) {
    switch (rotation) {
    case 90:
        return {h - y, x};
    case 180:
        return {w - x, h - y};
    case 270:
        return {y, w - x};
    default:
        return {x, y};
    }
}

} // namespace

ArrangedQuads placeArrangedQuads(const QuadInput& in, const ArrangedPicture& picture, bool integerScale) {
    ArrangedQuads out;
    const bool plain = picture.count == 1 && picture.rotation == 0 && !integerScale &&
                       picture.panes[0].srcX == 0 && picture.panes[0].srcY == 0 &&
                       picture.panes[0].width == static_cast<int32_t>(in.width) &&
                       picture.panes[0].height == static_cast<int32_t>(in.height);
    if (plain) {
        // The picture as it comes: exactly the one quad of placeQuad.
        out.quads[0] = placeQuad(in);
        out.count = 1;
        out.scale = quadScale(in);
        return out;
    }
    QuadInput arranged = in;
    arranged.width = static_cast<uint32_t>(picture.width);
    arranged.height = static_cast<uint32_t>(picture.height);
    float s = quadScale(arranged);
    if (integerScale) {
        const float unshrunk = in.shrink ? s / (1.0f - in.maximizedShrink) : s;
        if (unshrunk >= 1.0f)
            s = std::floor(unshrunk + 1e-4f);
    }
    out.scale = s;
    const bool turned = picture.rotation == 90 || picture.rotation == 270;
    const float unturnedW = static_cast<float>(turned ? picture.height : picture.width);
    const float unturnedH = static_cast<float>(turned ? picture.width : picture.height);
    const float cx = static_cast<float>(in.backBufferWidth) * 0.5f - 0.5f;
    const float cy = static_cast<float>(in.backBufferHeight) * 0.5f - 0.5f;
    const float left = cx - static_cast<float>(picture.width) * s * 0.5f;
    const float top = cy - static_cast<float>(picture.height) * s * 0.5f;
    const float tw = in.textureWidth ? static_cast<float>(in.textureWidth) : 1.0f;
    const float th = in.textureHeight ? static_cast<float>(in.textureHeight) : 1.0f;
    for (int i = 0; i < picture.count; ++i) {
        const Pane& p = picture.panes[static_cast<std::size_t>(i)];
        const float x0 = static_cast<float>(p.dstX);
        const float y0 = static_cast<float>(p.dstY);
        const float x1 = x0 + static_cast<float>(p.width);
        const float y1 = y0 + static_cast<float>(p.height);
        const float u0 = static_cast<float>(p.srcX) / tw;
        const float v0 = static_cast<float>(p.srcY) / th;
        const float u1 = static_cast<float>(p.srcX + p.width) / tw;
        const float v1 = static_cast<float>(p.srcY + p.height) / th;
        // Strip order of the source's corners: bottom left, top left, bottom right, top right.
        const float corners[4][4] = {{x0, y1, u0, v1}, {x0, y0, u0, v0}, {x1, y1, u1, v1}, {x1, y0, u1, v0}};
        Quad& q = out.quads[static_cast<std::size_t>(i)];
        for (std::size_t c = 0; c < 4; ++c) {
            const auto [x, y] = turn(corners[c][0], corners[c][1], unturnedW, unturnedH, picture.rotation);
            q[c] = {left + x * s, top + y * s, 0.0f, 1.0f, corners[c][2], corners[c][3]};
        }
    }
    out.count = picture.count;
    return out;
}

} // namespace tavrin::display
