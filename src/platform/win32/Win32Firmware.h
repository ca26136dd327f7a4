// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/TavrinDevice.h"
#include "device/ZlibInflater.h"

#include <cstdint>
#include <span>

namespace tavrin::win32 {

// The resource the firmware container travels in, inside the program's .exe.
constexpr int kFirmwareResource = 114;

// zlib's own decoder: checks the stream's header and its Adler-32 trailer, and stops
// a stream that would inflate beyond what the board can take.
class ZlibStreamInflater final : public device::ZlibInflater {
  public:
    bool inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                 std::vector<uint8_t>& out) const override;
};

// The container in the program's resources (RCDATA 114), or an empty span when the
// program was built without one.
std::span<const uint8_t> firmwareResource();

// Gives the board the container and the inflater; done once at start-up. Without a
// container an update fails with "Resource load failed", as the Linux program does.
void installFirmwareResource(device::TavrinDevice& board);

} // namespace tavrin::win32
