#pragma once

#include "app/Messages.h"
#include "device/UsbDevice.h"

#include <memory>

namespace tavrin::device {

// The board, spoken to through its vendor requests on the default control pipe,
// frame data on pipe 0x82 and one status read kept outstanding on pipe 0x86.
class TavrinDevice : public UsbDevice {
  public:
    TavrinDevice(UsbTransport& transport, const ModifierKeys& keys, const app::ControlWindowLink& controlWindow);
    ~TavrinDevice() override;

    bool open(const InterfaceClassId* filter) override;
    void close() override;
    int readFrame(CaptureFrame& frame) override;
    bool controlOut(uint8_t request, uint16_t value, uint32_t length, const uint8_t* data) override;
    bool readPipe(uint8_t* buffer, uint32_t length, uint32_t* received) override;

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
    const app::ControlWindowLink& controlWindow_;
    std::unique_ptr<UsbConnection> connection_;
    alignas(8) uint8_t statusBuffer_[8] = {};
};

} // namespace tavrin::device
