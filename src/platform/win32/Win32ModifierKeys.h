// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

namespace tavrin::win32 {

// Ctrl and Alt as the keyboard has them now (GetAsyncKeyState), from any thread.
class Win32ModifierKeys final : public device::ModifierKeys {
  public:
    bool ctrlAndAltHeld() const override;
};

} // namespace tavrin::win32
