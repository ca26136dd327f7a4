// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"
#include "device/FrameRef.h"

#include <mutex>

namespace tavrin::display {

// The frame a display window shows, with the window's mutex. The window holds one
// reference to it. Lock order: this mutex, then the frame's lock, then the pool's.
class HeldFrame {
  public:
    HeldFrame() = default;
    HeldFrame(const HeldFrame&) = delete;
    HeldFrame& operator=(const HeldFrame&) = delete;
    ~HeldFrame() { clear(); }

    // Takes over `frame` and lets go of the frame held before, under the mutex.
    void present(device::FrameRef frame);

    // Runs `draw` on the held frame with the mutex taken; false when none is held.
    template <class Draw> bool withFrame(Draw&& draw) {
        std::lock_guard lk(mutex_);
        if (!frame_)
            return false;
        draw(*frame_);
        return true;
    }

    // Lets go of the held frame, if any.
    void clear();

    bool holdsFrame() const;

  private:
    mutable std::mutex mutex_;
    device::FrameRef frame_;
};

} // namespace tavrin::display
