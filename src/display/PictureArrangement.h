// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/ProgramOptions.h"
#include "display/QuadPlacement.h"

#include <array>
#include <cstdint>
#include <string>

namespace tavrin::display {

// The options live with the program's own (options.conf).
using base::Arrangement;
using base::PictureOptions;

// One rectangle of the window's part of the image and where it lies in the
// arranged picture before the turn, all in console pixels.
struct Pane {
    int32_t srcX = 0, srcY = 0, width = 0, height = 0;
    int32_t dstX = 0, dstY = 0;
};

// What a picture window draws: one pane (a single screen, or both screens as they
// come), or two (the screens of a dual picture placed apart).
struct ArrangedPicture {
    int32_t width = 0; // the arranged picture after the turn: what the window keeps the shape of
    int32_t height = 0;
    int32_t rotation = 0;
    std::array<Pane, 2> panes{};
    int count = 0;
};

// The arrangement of a part of partWidth x partHeight. `twoScreens`: the part holds
// both screens, the top one in its upper half; only then do arrangement, gap and
// swap apply. The rotation applies to every picture.
ArrangedPicture arrangePicture(const PictureOptions& options, bool twoScreens, int32_t partWidth,
                               int32_t partHeight);

struct ArrangedQuads {
    std::array<Quad, 2> quads{};
    int count = 0;
    float scale = 0.0f;
};

// The quads that draw `picture` centred in the client area: at the largest scale
// that fits (the whole multiple not above it with integerScale, unless that is
// below 1), shrunk as placeQuad shrinks. `in` gives the part's size and texture
// and the client area; its width and height are the part's, not the picture's.
ArrangedQuads placeArrangedQuads(const QuadInput& in, const ArrangedPicture& picture, bool integerScale);

} // namespace tavrin::display
