// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FrameQueue.h"

#include <new>

namespace tavrin::device {

void FrameQueue::push(CaptureFrame* frame) {
    {
        std::lock_guard lk(mutex_);
        slots_[tail_] = frame;
        tail_ = (tail_ + 1) % kSlots;
        ++count_;
    }
    available_.release();
}

CaptureFrame* FrameQueue::takeHead() {
    std::lock_guard lk(mutex_);
    if (wakePending_) {
        wakePending_ = false;
        return nullptr;
    }
    CaptureFrame* frame = slots_[head_];
    head_ = (head_ + 1) % kSlots;
    --count_;
    return frame;
}

CaptureFrame* FrameQueue::pop(std::chrono::milliseconds timeout) {
    if (!available_.try_acquire_for(timeout))
        return nullptr;
    return takeHead();
}

bool FrameQueue::popFor(CaptureFrame*& frame, std::chrono::milliseconds timeout) {
    if (!available_.try_acquire_for(timeout))
        return false;
    frame = takeHead();
    return true;
}

bool FrameQueue::tryPop(CaptureFrame*& frame) {
    if (!available_.try_acquire())
        return false;
    frame = takeHead();
    return true;
}

void FrameQueue::wake() {
    {
        std::lock_guard lk(mutex_);
        if (wakePending_)
            return;
        wakePending_ = true;
    }
    available_.release();
}

void FrameQueue::clearWake() {
    std::lock_guard lk(mutex_);
    if (wakePending_ && available_.try_acquire())
        wakePending_ = false;
}

int FrameQueue::count() const {
    std::lock_guard lk(mutex_);
    return count_;
}

void FrameQueue::push(FrameRef frame) {
    push(frame.takeCounted());
}

bool FrameQueue::popFor(FrameRef& frame, std::chrono::milliseconds timeout) {
    CaptureFrame* taken = nullptr;
    if (!popFor(taken, timeout))
        return false;
    frame = FrameRef(taken);
    return true;
}

bool FrameQueue::tryPop(FrameRef& frame) {
    CaptureFrame* taken = nullptr;
    if (!tryPop(taken))
        return false;
    frame = FrameRef(taken);
    return true;
}

FrameRef FrameRef::share() const {
    if (frame_)
        addFrameRef(*frame_);
    return FrameRef(frame_);
}

void FrameRef::reset() noexcept {
    if (CaptureFrame* frame = std::exchange(frame_, nullptr))
        releaseFrame(*frame);
}

void addFrameRef(CaptureFrame& frame) {
    std::lock_guard lk(frame.lock);
    ++frame.refCount;
}

void releaseFrame(CaptureFrame& frame) {
    int remaining;
    {
        std::lock_guard lk(frame.lock);
        remaining = --frame.refCount;
    }
    // The frame lock is released before the pool's mutex is taken: never nested.
    if (remaining == 0 && frame.home)
        frame.home->push(&frame);
}

void drainFrameQueue(FrameQueue& queue) {
    FrameRef frame;
    while (queue.tryPop(frame))
        frame.reset(); // an end marker holds nothing
}

FrameRef FramePool::take(std::chrono::milliseconds timeout) {
    CaptureFrame* frame = queue_.pop(timeout);
    if (!frame)
        return {};
    // A free frame has no holder: the taker becomes the first.
    addFrameRef(*frame);
    return FrameRef(frame);
}

bool FramePool::setup() {
    if (ready_)
        return true;
    for (auto& frame : frames_) {
        frame.data.reset(new (std::nothrow) uint8_t[kFrameBufferBytes]());
        if (!frame.data)
            return false;
        frame.layout = {};
        frame.refCount = 0;
        frame.home = &queue_;
        queue_.push(&frame);
    }
    ready_ = true;
    return true;
}

} // namespace tavrin::device
