// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "device/FrameRef.h"

#include <atomic>
#include <utility>

namespace tavrin::device {

// The control window as the capture side posts to it: the program's messages,
// and frames (UM_FRAME) as typed events that carry their reference.
class ControlWindowTarget : public base::MessageTarget {
  public:
    // Takes over `frame` and hands it to the window's thread later, without
    // waiting. A frame that is never handled (the window or its queue gone first)
    // must still go back to the pool, which dropping its FrameRef does.
    virtual void postFrame(FrameRef frame) = 0;
};

// The session's link to the control window: base::ControlWindowLink for messages,
// plus frames. Its set() hides the base's, so the target always takes frames too.
class ControlWindowLink : public base::ControlWindowLink {
  public:
    void set(ControlWindowTarget* target) {
        frameTarget_.store(target, std::memory_order_release);
        base::ControlWindowLink::set(target);
    }
    // Returns false while no control window exists; the frame is then back in the pool.
    bool postFrame(FrameRef frame) const {
        ControlWindowTarget* target = frameTarget_.load(std::memory_order_acquire);
        if (!target)
            return false;
        target->postFrame(std::move(frame));
        return true;
    }

  private:
    std::atomic<ControlWindowTarget*> frameTarget_{nullptr};
};

} // namespace tavrin::device
