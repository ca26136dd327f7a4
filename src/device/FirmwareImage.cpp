// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FirmwareImage.h"

#include <algorithm>

namespace tavrin::device {

bool inflateFirmwareImage(std::span<const uint8_t> container, const ZlibInflater* inflater,
                          std::vector<uint8_t>& image) {
    image.clear();
    if (container.empty() || !inflater)
        return false;
    if (!inflater->inflate(container, kMaxFirmwareImageBytes, image) ||
        image.size() > kMaxFirmwareImageBytes) {
        image.clear();
        return false;
    }
    return true;
}

FirmwareWorkingCopy makeWorkingCopy(std::span<const uint8_t> image) {
    FirmwareWorkingCopy copy;
    copy.total = image.size() + kFirmwareTrailerBytes;
    const std::size_t pages = (copy.total + kFirmwarePageBytes - 1) / kFirmwarePageBytes;
    copy.bytes.assign(pages * kFirmwarePageBytes, 0xFF);
    std::copy(image.begin(), image.end(), copy.bytes.begin());
    for (std::size_t i = 0; i < kFirmwareTrailerBytes; ++i)
        copy.bytes[image.size() + i] = static_cast<uint8_t>(i);
    return copy;
}

FirmwareRecordWalk walkFirmwareRecords(std::span<const uint8_t> copy) {
    FirmwareRecordWalk walk;
    std::size_t offset = kFirmwareHeaderBytes;
    while (offset < kFirmwareWalkLimit) {
        if (copy.size() < 4 || offset > copy.size() - 4)
            break;
        const uint16_t length = static_cast<uint16_t>(copy[offset] << 8 | copy[offset + 1]);
        const uint16_t address = static_cast<uint16_t>(copy[offset + 2] << 8 | copy[offset + 3]);
        const uint16_t dataBytes = length & kRecordLengthMask;
        if (dataBytes > copy.size() - offset - 4)
            break;
        walk.records.push_back({offset, address, dataBytes});
        if (std::size_t{address} + dataBytes > kFirmwareMemoryBytes)
            walk.recordsFitAddressSpace = false;
        offset += std::size_t{length} + 4;
    }
    walk.endsAtResetRegister = !walk.records.empty() && walk.records.back().address == kCpuResetRegister;
    return walk;
}

} // namespace tavrin::device
