// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"
#include "device/UsbTransport.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace tavrin::device {

enum DeviceState : int32_t { DEVICE_CLOSED = 0, DEVICE_FIRMWARE_REQUIRED = 1, DEVICE_OPEN = 2 };

using ProgressCallback = std::function<void(int perMille)>;

// The device interface. The base class is itself the null device, which stands
// in whenever no board is open.
class UsbDevice {
  public:
    virtual ~UsbDevice() = default;

    virtual bool open(const InterfaceClassId* filter);
    virtual void close();
    virtual int readFrame(CaptureFrame& frame);
    virtual int updateFirmware(const ProgressCallback& progress);
    virtual int reserved(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
    virtual bool controlOut(uint8_t request, uint16_t value, uint32_t length, const uint8_t* data);
    virtual bool readPipe(uint8_t* buffer, uint32_t length, uint32_t* received);

    // Read without the application lock by other threads, hence atomic.
    int32_t state() const { return state_.load(std::memory_order_acquire); }

  protected:
    void setState(int32_t s) { state_.store(s, std::memory_order_release); }

  private:
    std::atomic<int32_t> state_{DEVICE_CLOSED};
};

} // namespace tavrin::device
