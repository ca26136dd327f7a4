// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"
#include "device/FrameRef.h"

#include <array>
#include <chrono>
#include <mutex>
#include <semaphore>

namespace tavrin::device {

// A fixed 13-slot ring of frame pointers with a mutex and a counting semaphore.
// With 12 frames in the system it can never fill. The pool's ring holds free
// frames (the raw calls); a holder's ring, such as the recording queue, holds
// references (the FrameRef calls).
class FrameQueue {
  public:
    static constexpr int kSlots = 13;

    FrameQueue() = default;
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    void push(CaptureFrame* frame);
    // Waits up to `timeout` for a frame; nullptr when none came.
    CaptureFrame* pop(std::chrono::milliseconds timeout);
    // Like pop, but tells a timeout (false) from a slot that holds nullptr (true).
    bool popFor(CaptureFrame*& frame, std::chrono::milliseconds timeout);
    // Takes a slot only if one is filled now; the slot itself may hold nullptr.
    bool tryPop(CaptureFrame*& frame);
    int count() const;

    // The queue keeps `frame`'s hold until it is taken or drained; an empty
    // reference queues an entry with no frame (an end marker).
    void push(FrameRef frame);
    // As popFor and tryPop, handing the queued hold over to `frame`.
    bool popFor(FrameRef& frame, std::chrono::milliseconds timeout);
    bool tryPop(FrameRef& frame);
    // Ends the wait of one pop (now, or the next one to come) without a frame, as a
    // time-out would. Used to stop the one thread that waits on the pool; a second
    // wake before the first is taken changes nothing, so the semaphore never passes
    // 13 while the queue holds at most 12 frames.
    void wake();
    // Takes back a wake that no pop used. Only while no one else pops.
    void clearWake();

  private:
    CaptureFrame* takeHead();

    mutable std::mutex mutex_;
    // Waited on with time-outs only: MinGW's untimed acquire() can hang under load.
    std::counting_semaphore<kSlots> available_{0};
    std::array<CaptureFrame*, kSlots> slots_{};
    int head_ = 0;
    int tail_ = 0;
    int count_ = 0;
    bool wakePending_ = false; // counted in `available_` but not in the slots
};

// Reference operations: FrameRef's implementation. Holders use FrameRef.
void addFrameRef(CaptureFrame& frame);
void releaseFrame(CaptureFrame& frame);
// Releases every frame waiting in a queue of references without blocking.
void drainFrameQueue(FrameQueue& queue);

// The free frames: exactly 12, made once and never freed.
class FramePool {
  public:
    static constexpr int kFrameCount = 12;

    // Allocates the buffers and fills the queue. Returns false on failure.
    bool setup();
    // The next free frame with its first reference; empty when none came within
    // `timeout` or the wait was woken (FrameQueue::wake).
    FrameRef take(std::chrono::milliseconds timeout);
    FrameQueue& queue() { return queue_; }
    CaptureFrame& frame(int i) { return frames_[i]; }

  private:
    FrameQueue queue_;
    std::array<CaptureFrame, kFrameCount> frames_;
    bool ready_ = false;
};

} // namespace tavrin::device
