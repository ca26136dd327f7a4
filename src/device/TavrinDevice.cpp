// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/TavrinDevice.h"

#include "base/Diagnostics.h"
#include "device/VendorRequests.h"

#include <algorithm>
#include <chrono>

namespace tavrin::device {

namespace {
constexpr uint32_t kMaxMemoryChunk = 4096;
} // namespace

TavrinDevice::TavrinDevice(UsbTransport& transport, const ModifierKeys& keys,
                           const base::MessageLink& controlWindow)
    : transport_(transport), keys_(keys), controlWindow_(controlWindow) {}

TavrinDevice::~TavrinDevice() = default;

bool TavrinDevice::open(const InterfaceClassId* filter) {
    if (filter && *filter != kTavrinInterfaceClass)
        return false;
    close();

    const std::vector<std::string> paths = transport_.listInterfaces();
    bool refusedForPermission = false;
    for (std::size_t index = 0; state() == DEVICE_CLOSED; ++index) {
        close(); // releases whatever a failed attempt left half open
        if (index >= paths.size())
            break;
        const std::string& path = paths[index];
        base::deviceLog.info("opening %s\n", path.c_str());
        connection_ = transport_.open(path);
        if (!connection_) {
            refusedForPermission =
                refusedForPermission || transport_.lastOpenFailure() == OpenFailure::NoPermission;
            continue;
        }
        if (!connection_->setPipeTimeout(kControlPipe, 100))
            continue;

        uint8_t versionBytes[2] = {0, 0};
        uint16_t version = 0;
        if (vendorIn(kRequestInVersion, 0, 2, versionBytes) >= 0)
            version = static_cast<uint16_t>(versionBytes[0] | (versionBytes[1] << 8));
        base::deviceLog.info("fwVer=%d\n", version);

        if (keys_.ctrlAndAltHeld()) {
            base::deviceLog.info("(ctrl+alt) forced update\n");
            setState(DEVICE_FIRMWARE_REQUIRED);
        } else if (version == 1) {
            setState(DEVICE_FIRMWARE_REQUIRED);
        } else {
            if (!connection_->setPipeTimeout(kFramePipe, 100) || !connection_->setPipeTimeout(kStatusPipe, 0))
                continue;
            connection_->setRawIo(kFramePipe, true); // outcome deliberately ignored
            setState(DEVICE_OPEN);
            controlWindow_.post(base::UM_DEVICE, 1, 0);
            base::deviceLog.info("Tavrin open\n");
        }
    }
    if (state() == DEVICE_CLOSED) {
        close();
        // After the "not connected" notice, so that the user is told what to do.
        if (refusedForPermission)
            controlWindow_.post(base::UM_DEVICE, base::kDeviceNoPermission, 0);
    }
    return state() != DEVICE_CLOSED;
}

void TavrinDevice::close() {
    // Destroying the connection cancels the outstanding status read.
    connection_.reset();
    controlWindow_.post(base::UM_DEVICE, 0, 0);
    setState(DEVICE_CLOSED);
}

int TavrinDevice::readFrame(CaptureFrame& frame) {
    if (!controlOut(kRequestOutStartFrame, 0, 0, nullptr)) {
        const UsbError error = lastError_;
        if (error == UsbError::Gone)
            close();
        return error == UsbError::Timeout ? FRAME_SKIP : FRAME_ERROR;
    }
    if (connection_ && !connection_->asyncReadPending(kStatusPipe))
        connection_->startAsyncRead(kStatusPipe, statusBuffer_, sizeof statusBuffer_);

    uint32_t count = 0;
    readPipe(frame.data.get(), static_cast<uint32_t>(kFrameBufferBytes), &count);
    if (count == 0) {
        base::deviceLog.debug("0:");
        return FRAME_ERROR;
    }
    if (count < kPictureBytes) {
        base::deviceLog.debug("%d:", static_cast<int>(count));
        return FRAME_SKIP;
    }
    return FRAME_OK;
}

bool TavrinDevice::controlOut(uint8_t request, uint16_t value, uint32_t length, const uint8_t* data) {
    lastError_ = UsbError::Other;
    if (!connection_)
        return false;
    const uint16_t wLength = data ? static_cast<uint16_t>(length) : 0;
    UsbSetup setup{kVendorRequestOut, request, value, 0, wLength};
    // The transport takes a mutable pointer for both directions; OUT data is only read.
    TransferResult r = connection_->controlTransfer(setup, const_cast<uint8_t*>(data));
    lastError_ = r.ok ? UsbError::None : r.error;
    return r.ok && r.transferred == wLength;
}

bool TavrinDevice::readPipe(uint8_t* buffer, uint32_t length, uint32_t* received) {
    if (!connection_)
        return false;
    TransferResult r = connection_->readPipe(kFramePipe, buffer, length);
    if (received)
        *received = r.transferred;
    return r.ok;
}

int TavrinDevice::vendorIn(uint8_t request, uint16_t value, uint16_t length, uint8_t* buffer) {
    if (!connection_)
        return -1;
    UsbSetup setup{kVendorRequestIn, request, value, 0, length};
    TransferResult r = connection_->controlTransfer(setup, buffer);
    return r.ok ? static_cast<int>(r.transferred) : -1;
}

bool TavrinDevice::memoryRead(uint16_t address, uint32_t length, uint8_t* destination) {
    const uint8_t addressBytes[2] = {static_cast<uint8_t>(address >> 8),
                                     static_cast<uint8_t>(address & 0xFF)};
    if (!controlOut(kRequestOutMemory, kFirmwareMemory, 2, addressBytes))
        return false;
    uint32_t done = 0;
    while (done < length) {
        const uint16_t chunk = static_cast<uint16_t>(std::min(kMaxMemoryChunk, length - done));
        if (vendorIn(kRequestInMemory, kFirmwareMemory, chunk, destination + done) != chunk)
            return false;
        done += chunk;
    }
    return true;
}

bool TavrinDevice::setControlTimeout(uint32_t milliseconds) {
    return connection_ && connection_->setPipeTimeout(kControlPipe, milliseconds);
}

} // namespace tavrin::device
