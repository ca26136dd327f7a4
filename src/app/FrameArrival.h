// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"

namespace tavrin::app {

struct CaptureApp;

// The control window's conversion of a frame that has just arrived: the layout
// of Settings::displayMode, an "Out of memory" end of the program when the image
// cannot be had, and the data-line analysis while the debug console is open.
void convertFrame(CaptureApp& app, device::CaptureFrame& frame);

} // namespace tavrin::app
