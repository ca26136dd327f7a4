// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

namespace tavrin::winusb {

class WinUsbSystem;

// Maps a system error code (GetLastError) onto the transport's own meanings: a
// board that left the bus or stopped answering is Gone, the pipe's time-out is
// Timeout.
device::UsbError usbErrorOf(unsigned long systemError);

// Real boards through SetupAPI and WinUSB: the interfaces of the board's device
// interface class, each opened for overlapped I/O and handed to WinUSB. Paths are
// the interface paths SetupAPI gives, in UTF-8.
class WinUsbTransport final : public device::UsbTransport {
  public:
    // Through the system's own calls.
    WinUsbTransport();
    // Through `system`, which must outlive the transport and every connection it opens.
    explicit WinUsbTransport(WinUsbSystem& system);

    std::vector<std::string> listInterfaces() override;
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override;
    device::OpenFailure lastOpenFailure() const override { return lastOpenFailure_; }

  private:
    WinUsbSystem& system_;
    device::OpenFailure lastOpenFailure_ = device::OpenFailure::None;
};

} // namespace tavrin::winusb
