// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

struct libusb_context;
struct libusb_device;

namespace tavrin::usb {

// Index of the board's interface on `device`, or -1: the vendor-specific interface
// with bulk IN endpoints 0x82 and 0x86.
int findBoardInterface(libusb_device* device);

// Real boards through libusb-1.0. Linux has no device interface class, so the
// board is the device whose vendor-specific interface carries bulk IN endpoints
// 0x82 and 0x86.
class LibusbTransport : public device::UsbTransport {
  public:
    LibusbTransport();
    ~LibusbTransport() override;
    LibusbTransport(const LibusbTransport&) = delete;
    LibusbTransport& operator=(const LibusbTransport&) = delete;

    bool available() const { return context_ != nullptr; }
    libusb_context* context() const { return context_; }

    std::vector<std::string> listInterfaces() override;
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override;
    device::OpenFailure lastOpenFailure() const override { return lastOpenFailure_; }

  private:
    libusb_context* context_ = nullptr;
    device::OpenFailure lastOpenFailure_ = device::OpenFailure::None;
};

} // namespace tavrin::usb
