// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"

namespace tavrin::record {

// Recordings read, and the two settings dialogs change, fields of the program's
// settings record: outputFolder (for the status line), displayMode, recordScreens,
// recordFps, videoCodec, videoQuality, videoCodecSettings, audioSource and
// audioCompressor. Main thread only.
using RecordingSettings = base::Settings;

} // namespace tavrin::record
