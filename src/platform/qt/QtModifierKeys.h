// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

namespace tavrin::qt {

// Ctrl and Alt as the window system reports them now. Read on the GUI thread
// (where boards are opened); any other thread sees them as not held.
class QtModifierKeys final : public device::ModifierKeys {
  public:
    bool ctrlAndAltHeld() const override;
};

} // namespace tavrin::qt
