// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/firmware/EmbeddedFirmware.h"

#include "platform/firmware/LodepngInflater.h"

namespace tavrin::firmware {

namespace {
#ifdef TAVRIN_HAVE_FIRMWARE_IMAGE
const uint8_t kFirmwareContainer[] = {
#include "firmware_image.inc"
};
#endif
} // namespace

std::span<const uint8_t> embeddedFirmwareImage() {
#ifdef TAVRIN_HAVE_FIRMWARE_IMAGE
    return {kFirmwareContainer, sizeof kFirmwareContainer};
#else
    return {};
#endif
}

void installFirmwareImage(device::TavrinDevice& board) {
    static const LodepngInflater inflater;
    board.setFirmwareImage(embeddedFirmwareImage(), &inflater);
}

} // namespace tavrin::firmware
