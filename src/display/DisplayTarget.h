// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameRef.h"

namespace tavrin::display {

// One display window as the control window sees it.
class DisplayTarget {
  public:
    virtual ~DisplayTarget() = default;
    // Takes over `frame`; lets go of the frame it held before.
    virtual void present(device::FrameRef frame) = 0;
};

// The display windows of the current layout.
class DisplayManager {
  public:
    virtual ~DisplayManager() = default;
    // Creates the windows of layout `layoutId` (split or not), replacing the current
    // ones, and stores both values in the settings.
    virtual void applyDisplayMode(int layoutId, bool split) = 0;
    // Destroys bottomDisplay, then mainDisplay.
    virtual void destroyDisplayWindows() = 0;
    virtual DisplayTarget* mainDisplay() = 0;   // nullptr when none
    virtual DisplayTarget* bottomDisplay() = 0; // nullptr unless split
    // UM_TOPMOST: applies the alwaysOnTop setting to both windows.
    virtual void applyTopmost() = 0;
    // UM_FOCUS_DISPLAY: brings mainDisplay to the foreground.
    virtual void focusMainDisplay() = 0;
};

} // namespace tavrin::display
