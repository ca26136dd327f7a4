// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace tavrin::screenshot {

// Turns an RGB picture into the bytes of a PNG file.
class PngEncoder {
  public:
    virtual ~PngEncoder() = default;
    // `pixels` holds width x height pixels of red, green, blue (8 bits each),
    // rows packed top to bottom. Returns 0 and fills `png`, or the encoder's
    // error number. Called from screenshot workers, several at once.
    virtual unsigned encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                               std::vector<uint8_t>& png) = 0;
};

} // namespace tavrin::screenshot
