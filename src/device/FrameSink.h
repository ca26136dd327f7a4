// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "device/FrameRef.h"

#include <atomic>
#include <utility>

namespace tavrin::device {

// Where the capture side posts: the program's messages, and frames (UM_FRAME)
// as typed events that carry their reference. The control window is one.
class FrameSink : public base::MessageTarget {
  public:
    // Takes over `frame` and hands it to the window's thread later, without
    // waiting. A frame that is never handled (the window or its queue gone first)
    // must still go back to the pool, which dropping its FrameRef does.
    virtual void postFrame(FrameRef frame) = 0;
};

// The session's link to its frame sink, possibly not there yet: a message link
// plus frames. Its set() hides the base's, so the sink always takes frames too.
class FrameLink : public base::MessageLink {
  public:
    void set(FrameSink* target) {
        frameTarget_.store(target, std::memory_order_release);
        base::MessageLink::set(target);
    }
    // Returns false while no control window exists; the frame is then back in the pool.
    bool postFrame(FrameRef frame) const {
        FrameSink* target = frameTarget_.load(std::memory_order_acquire);
        if (!target)
            return false;
        target->postFrame(std::move(frame));
        return true;
    }

  private:
    std::atomic<FrameSink*> frameTarget_{nullptr};
};

} // namespace tavrin::device
