// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace tavrin::device {

// The board's vendor requests, in one place for the program and the simulated board.
// A number may mean one thing read and another written (0x20 reads the firmware's
// version, and written makes new firmware leave the bus), so each name says its
// direction.
constexpr uint8_t kVendorRequestIn = 0xC0;  // bmRequestType: vendor, device to host
constexpr uint8_t kVendorRequestOut = 0x40; // vendor, host to device

constexpr uint8_t kRequestInVersion = 0x20;     // two bytes: the running firmware's version
constexpr uint8_t kRequestOutDisconnect = 0x20; // new firmware leaves the bus and comes back
constexpr uint8_t kRequestOutStartFrame = 0x30; // the next frame comes on the frame pipe
constexpr uint8_t kRequestInMemory = 0x21;      // reads the firmware memory at the address set
constexpr uint8_t kRequestOutMemory = 0x21;     // sets that address, or writes a page
constexpr uint8_t kRequestOutCpuMemory = 0xA0;  // writes the processor's own memory
constexpr uint16_t kFirmwareMemory = 0x00A2;    // wValue of the firmware memory requests

} // namespace tavrin::device
