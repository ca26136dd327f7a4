// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/UsbDevice.h"

namespace tavrin::device {

bool UsbDevice::open(const InterfaceClassId*) {
    return false;
}
void UsbDevice::close() {}
int UsbDevice::readFrame(CaptureFrame&) {
    return FRAME_ERROR;
}
int UsbDevice::updateFirmware(const ProgressCallback&) {
    return -1;
}
int UsbDevice::reserved(uint32_t, uint32_t, uint32_t, uint32_t) {
    return -1;
}
bool UsbDevice::controlOut(uint8_t, uint16_t, uint32_t, const uint8_t*) {
    return false;
}
bool UsbDevice::readPipe(uint8_t*, uint32_t, uint32_t*) {
    return false;
}

} // namespace tavrin::device
