// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameRef.h"

namespace tavrin::screenshot {

// What the control window needs of the screenshot side.
class ScreenshotControl {
  public:
    virtual ~ScreenshotControl() = default;
    // Saves `frame` as the next numbered PNG on a worker; takes its own reference.
    virtual void startScreenshot(const device::FrameRef& frame) = 0;
    // Lets the user pick a new output folder; cancel changes nothing.
    virtual void chooseOutputFolder() = 0;
};

} // namespace tavrin::screenshot
