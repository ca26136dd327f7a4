// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace tavrin::record {

// The settings dialog that a recording start may need (the toolkit side shows it,
// modal, owned by the control window).
class RecordingDialogs {
  public:
    virtual ~RecordingDialogs() = default;
    // True when the Video Codec dialog was closed with OK.
    virtual bool showVideoCodecDialog() = 0;
};

} // namespace tavrin::record
