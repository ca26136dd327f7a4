// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ZlibInflater.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrin::device {

// The firmware image: an 8-byte header the board keeps to itself, then records of
// (16-bit big-endian length, 16-bit big-endian address, data) for the board's processor.
constexpr std::size_t kFirmwareHeaderBytes = 8;
constexpr std::size_t kFirmwareTrailerBytes = 50; // the values 0..49 follow the image
constexpr std::size_t kFirmwarePageBytes = 32;
constexpr std::size_t kFirmwareWalkLimit = 8192;
constexpr std::size_t kFirmwareMemoryBytes = 65536; // addresses are 16 bits wide
constexpr uint16_t kRecordLastFlag = 0x8000;
constexpr uint16_t kRecordLengthMask = 0x1FFF;
constexpr uint16_t kCpuResetRegister = 0xE600;
// The most data one control transfer carries on Linux (libusb's usbfs backend refuses more).
constexpr std::size_t kMaxControlTransferBytes = 4096;

// Results of a firmware update, as the user sees them in "Error (%d)".
enum FirmwareResult : int {
    FW_OK = 0,
    FW_NOT_REQUIRED = 66,  // the current device did not ask for firmware when the worker started
    FW_PIPE_TIMEOUT = 81,  // the control pipe's time-out could not be raised
    FW_RESOURCE = 90,      // no firmware image, or it does not inflate
    FW_PAGE_PROGRAM = 116, // a page failed five times in a row
    FW_CPU_RESET = 121,    // the processor could not be put in reset
    FW_UPLOAD = 133,       // the records do not end at the reset register
    FW_DISCONNECT = 138,   // the new firmware did not leave the bus
};

// The largest image whose working copy still fits the firmware memory's address range.
constexpr std::size_t kMaxFirmwareImageBytes = kFirmwareMemoryBytes - kFirmwareTrailerBytes;

// Inflates the program's firmware container. False when there is none, it does not
// inflate, or the image would not fit the firmware memory.
bool inflateFirmwareImage(std::span<const uint8_t> container, const ZlibInflater* inflater,
                          std::vector<uint8_t>& image);

// What is written to the firmware memory, byte for byte at the same offsets: the image
// followed by 0, 1, .., 49. `bytes` is sized to whole pages so that the first page
// written, which may reach past `total`, stays inside it; the bytes past `total` are 0xFF.
struct FirmwareWorkingCopy {
    std::vector<uint8_t> bytes;
    std::size_t total = 0; // image length + 50

    std::span<const uint8_t> content() const { return {bytes.data(), total}; }
};

FirmwareWorkingCopy makeWorkingCopy(std::span<const uint8_t> image);

// One record found by the walk; its data are the `length` bytes at `offset` + 4.
struct FirmwareRecord {
    std::size_t offset = 0;
    uint16_t address = 0;
    uint16_t length = 0;
};

struct FirmwareRecordWalk {
    std::vector<FirmwareRecord> records;
    // The last record the walk found is addressed to the processor's reset register,
    // so the processor runs again once the records are stored.
    bool endsAtResetRegister = false;
    // Every record lies inside the processor's 16-bit address space, so a long record
    // can go as consecutive transfers at consecutive addresses.
    bool recordsFitAddressSpace = true;
    // What the update needs before it touches the board.
    bool usable() const { return endsAtResetRegister && recordsFitAddressSpace; }
};

// Walks the records from offset 8 while the offset is below 8192. The full 16-bit
// length moves the offset, so the last record (bit 15 set) ends the walk. A record
// whose header or data would reach past `copy` also ends it, without being taken.
FirmwareRecordWalk walkFirmwareRecords(std::span<const uint8_t> copy);

} // namespace tavrin::device
