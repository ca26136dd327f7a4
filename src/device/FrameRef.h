// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <utility>

namespace tavrin::device {

struct CaptureFrame;
class FramePool;
class FrameQueue;

// One hold on a frame. Only the pool hands out the first one; every further
// holder asks for its own with share(). Whoever lets go of the last one sends
// the frame back to its pool, so a frame can be neither released twice nor kept
// by a holder that is gone. Moving hands the hold over.
class FrameRef {
  public:
    FrameRef() noexcept = default;
    FrameRef(FrameRef&& other) noexcept : frame_(std::exchange(other.frame_, nullptr)) {}
    FrameRef& operator=(FrameRef&& other) noexcept {
        if (this != &other) {
            reset();
            frame_ = std::exchange(other.frame_, nullptr);
        }
        return *this;
    }
    FrameRef(const FrameRef&) = delete;
    FrameRef& operator=(const FrameRef&) = delete;
    ~FrameRef() { reset(); }

    // Another hold on the same frame; empty when this one holds none.
    [[nodiscard]] FrameRef share() const;
    // Lets go now; the frame returns to its pool if this was the last hold.
    void reset() noexcept;

    CaptureFrame* get() const noexcept { return frame_; }
    CaptureFrame& operator*() const noexcept { return *frame_; }
    CaptureFrame* operator->() const noexcept { return frame_; }
    explicit operator bool() const noexcept { return frame_ != nullptr; }

  private:
    friend class FramePool;
    friend class FrameQueue;
    // Adopts a hold that was counted already.
    explicit FrameRef(CaptureFrame* counted) noexcept : frame_(counted) {}
    // Gives up the pointer without letting go: the count now belongs to the caller.
    CaptureFrame* takeCounted() noexcept { return std::exchange(frame_, nullptr); }

    CaptureFrame* frame_ = nullptr;
};

} // namespace tavrin::device
