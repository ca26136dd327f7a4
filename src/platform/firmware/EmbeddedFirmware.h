// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/TavrinDevice.h"

#include <cstdint>
#include <span>

namespace tavrin::firmware {

// The firmware container (a zlib stream) embedded when the program was built, or an
// empty span when the build was given none (CMake option TAVRIN_FIRMWARE_IMAGE).
std::span<const uint8_t> embeddedFirmwareImage();

// Gives the board the embedded container and lodepng's inflater; done once at start-up.
void installFirmwareImage(device::TavrinDevice& board);

} // namespace tavrin::firmware
