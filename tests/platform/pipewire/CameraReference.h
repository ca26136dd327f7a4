// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/CameraPicture.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace tavrin::testing {

// The camera's picture of the simulated board's test picture `n` in a layout, as
// the program converts and composes it.
std::vector<uint8_t> cameraPictureOf(uint32_t n, int32_t layoutId);

// Every test picture of the simulated board (they repeat after 4096) as the camera
// shows it in one layout, for telling which one a received picture is. A match is
// compared byte for byte, never taken from the hash alone.
class CameraReference {
  public:
    explicit CameraReference(int32_t layoutId, uint32_t count = 4096);
    // The numbers of the pictures `bgrx` (kCameraBytes, no row padding) equals
    // exactly, in increasing order; some pictures repeat within the 4096.
    std::vector<uint32_t> find(std::span<const uint8_t> bgrx) const;

  private:
    int32_t layoutId_;
    std::unordered_multimap<uint64_t, uint32_t> byHash_;
};

uint64_t pictureHash(std::span<const uint8_t> bytes);

} // namespace tavrin::testing
