// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "screenshot/PngEncoder.h"

namespace tavrin::png {

// PNG encoding with lodepng: the picture is described and requested as RGB with
// 8 bits a channel; every other encoder setting is lodepng's default.
class LodePngEncoder : public screenshot::PngEncoder {
  public:
    unsigned encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                       std::vector<uint8_t>& png) override;
};

} // namespace tavrin::png
