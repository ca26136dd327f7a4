// SPDX-License-Identifier: GPL-2.0-or-later
#include "fakes/FirmwareTestImage.h"

namespace tavrin::testing {

void appendFirmwareRecord(std::vector<uint8_t>& image, uint16_t length, uint16_t address,
                          const std::vector<uint8_t>& data) {
    image.push_back(static_cast<uint8_t>(length >> 8));
    image.push_back(static_cast<uint8_t>(length & 0xFF));
    image.push_back(static_cast<uint8_t>(address >> 8));
    image.push_back(static_cast<uint8_t>(address & 0xFF));
    image.insert(image.end(), data.begin(), data.end());
}

std::vector<uint8_t> makeFirmwareTestImage(bool withLastRecord) {
    constexpr std::size_t kImageBytes = 4576;
    constexpr std::size_t kLastRecordBytes = 5;
    std::vector<uint8_t> image = {0xC2, 0x47, 0x05, 0x50, 0x10, 0x00, 0x00, 0x04};
    uint32_t seed = 0x2545F491;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return static_cast<uint8_t>(seed);
    };
    uint16_t address = 0x0000;
    while (image.size() < kImageBytes - kLastRecordBytes) {
        const std::size_t room = kImageBytes - kLastRecordBytes - image.size() - 4;
        const uint16_t length = static_cast<uint16_t>(room < 1023 ? room : 1023);
        std::vector<uint8_t> data(length);
        for (auto& b : data)
            b = next();
        appendFirmwareRecord(image, length, address, data);
        address = static_cast<uint16_t>(address + 0x0400);
    }
    if (withLastRecord)
        appendFirmwareRecord(image, 0x8001, 0xE600, {0x00});
    return image;
}

} // namespace tavrin::testing
