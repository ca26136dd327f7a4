// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"

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

    // Takes over one reference to `frame` and releases the frame held before.
    void present(device::CaptureFrame* frame);

    // Runs `draw` on the held frame with the mutex taken; false when none is held.
    template <class Draw> bool withFrame(Draw&& draw) {
        std::lock_guard lk(mutex_);
        if (!frame_)
            return false;
        draw(*frame_);
        return true;
    }

    // Releases the held frame, if any.
    void clear();

    bool holdsFrame() const;

  private:
    mutable std::mutex mutex_;
    device::CaptureFrame* frame_ = nullptr;
};

} // namespace tavrin::display
