// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/ProgramOptions.h"
#include "device/FrameRef.h"

namespace tavrin::display {

// The picture offered to other programs as a camera: one more holder of each
// converted frame, beside the display windows. Every call comes from the GUI
// thread and returns at once; the camera works on a thread of its own.
class CameraOutput {
  public:
    virtual ~CameraOutput() = default;
    // True while some program reads the camera. Without one the caller keeps its
    // frame to itself, so an unused camera costs nothing per frame.
    virtual bool wantsFrames() const = 0;
    // Takes over a hold on a converted frame. A frame the camera cannot take now
    // (the previous one still being sent, no free buffer) is dropped and counted,
    // never waited for. `picture`: the arrangement the picture window shows now.
    virtual void present(device::FrameRef frame, const base::PictureOptions& picture) = 0;
    // The user's switch: publish the camera, or withdraw it from other programs.
    // The camera's size is that of `picture`'s arrangement when it is published.
    virtual void setEnabled(bool on, const base::PictureOptions& picture) = 0;
};

} // namespace tavrin::display
