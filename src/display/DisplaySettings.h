// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"

namespace tavrin::display {

// The display windows read and write their fields of the settings record
// (displayMode, splitWindows, alwaysOnTop, pointScaling, shrinkWhenMaximized,
// maximizedShrink, clientWidth, clientHeight), all on the GUI thread.
using DisplaySettings = base::Settings;

} // namespace tavrin::display
