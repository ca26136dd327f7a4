// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "device/FirmwareImage.h"
#include "device/UsbDevice.h"

#include <memory>
#include <span>

namespace tavrin::device {

// The board, spoken to through its vendor requests on the default control pipe,
// frame data on pipe 0x82 and one status read kept outstanding on pipe 0x86.
class TavrinDevice : public UsbDevice {
  public:
    TavrinDevice(UsbTransport& transport, const ModifierKeys& keys, const base::MessageLink& controlWindow);
    ~TavrinDevice() override;

    bool open(const InterfaceClassId* filter) override;
    void close() override;
    int readFrame(CaptureFrame& frame) override;
    bool controlOut(uint8_t request, uint16_t value, uint32_t length, const uint8_t* data) override;
    bool readPipe(uint8_t* buffer, uint32_t length, uint32_t* received) override;

    // Writes the program's firmware image to the board (the board must be open in
    // DEVICE_FIRMWARE_REQUIRED), restarts its processor on it and lets it leave the bus.
    // 0 on success (the device is then closed), else the code the user is shown.
    int updateFirmware(const ProgressCallback& progress) override;
    // The firmware container the update writes: a zlib stream and what inflates it.
    // Set once at start-up; without it the update fails with "Resource load failed".
    void setFirmwareImage(std::span<const uint8_t> container, const ZlibInflater* inflater);

    // Steps of the update, one vendor request (or a few) each.
    bool pageProgramVerify(uint16_t address, const uint8_t* data); // 32 bytes
    bool cpuReset();
    bool fwUpload(const FirmwareWorkingCopy& copy);
    bool usbDisconnect();

    // Bytes received, or -1 when the transfer failed.
    int vendorIn(uint8_t request, uint16_t value, uint16_t length, uint8_t* buffer);
    bool memoryRead(uint16_t address, uint32_t length, uint8_t* destination);

    // For the firmware update, which raises the control pipe's time-out.
    bool setControlTimeout(uint32_t milliseconds);

  private:
    // Remembers the failure kind of the last controlOut, for readFrame.
    UsbError lastError_ = UsbError::None;

    UsbTransport& transport_;
    const ModifierKeys& keys_;
    const base::MessageLink& controlWindow_;
    std::unique_ptr<UsbConnection> connection_;
    std::span<const uint8_t> firmwareContainer_;
    const ZlibInflater* inflater_ = nullptr;
    alignas(8) uint8_t statusBuffer_[8] = {};
};

} // namespace tavrin::device
