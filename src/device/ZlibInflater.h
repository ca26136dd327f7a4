// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrin::device {

// Inflates a zlib stream (RFC 1950: header, deflate data, Adler-32 trailer). The
// program's one is lodepng's decoder (src/platform/firmware); tests bring their own.
class ZlibInflater {
  public:
    virtual ~ZlibInflater() = default;
    // Replaces `out` with the inflated bytes. False when the stream is malformed, its
    // Adler-32 trailer does not match, or it inflates to more than `maxOutput` bytes.
    virtual bool inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                         std::vector<uint8_t>& out) const = 0;
};

} // namespace tavrin::device
