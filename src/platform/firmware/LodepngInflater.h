// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ZlibInflater.h"

namespace tavrin::firmware {

// lodepng's zlib decoder: checks the stream's header and its Adler-32 trailer.
class LodepngInflater final : public device::ZlibInflater {
  public:
    bool inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                 std::vector<uint8_t>& out) const override;
};

} // namespace tavrin::firmware
