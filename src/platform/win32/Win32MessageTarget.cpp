// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32MessageTarget.h"

#include "base/EventSlots.h"
#include "platform/win32/Win32Messages.h"

#include <utility>

#include <windows.h>

namespace tavrin::win32 {

namespace {

// A frame on its way through the message queue.
struct PostedFrame {
    explicit PostedFrame(device::FrameRef f) : frame(std::move(f)) {}
    device::FrameRef frame;
    // Frames arrive at the frame rate: their carriers come from fixed slots, not the heap.
    static void* operator new(std::size_t size);
    static void operator delete(void* posted) noexcept;
};

// More than the twelve frames that exist, so the heap is only a safety net.
using PostedFrameSlots = base::EventSlots<PostedFrame, 16>;

void* PostedFrame::operator new(std::size_t size) {
    return PostedFrameSlots::take(size);
}

void PostedFrame::operator delete(void* posted) noexcept {
    PostedFrameSlots::give(posted);
}

constexpr UINT kFrameMessage = WM_USER + 1;

} // namespace

void Win32MessageTarget::postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (HWND window = window_.load(std::memory_order_acquire))
        (void)::PostMessageW(window, toWindowMessage(message), wParam, lParam);
}

void Win32MessageTarget::postFrame(device::FrameRef frame) {
    HWND window = window_.load(std::memory_order_acquire);
    if (!window || !frame)
        return;
    auto* posted = new PostedFrame(std::move(frame));
    if (!::PostMessageW(window, kFrameMessage, 0, reinterpret_cast<LPARAM>(posted)))
        delete posted; // the frame goes back to the pool with it
}

device::FrameRef Win32MessageTarget::takeFrame(intptr_t lParam) {
    auto* posted = reinterpret_cast<PostedFrame*>(lParam);
    if (!posted)
        return {};
    device::FrameRef frame = std::move(posted->frame);
    delete posted;
    return frame;
}

void Win32MessageTarget::dropQueuedFrames(HWND__* window) {
    MSG message;
    while (::PeekMessageW(&message, window, kFrameMessage, kFrameMessage, PM_REMOVE))
        takeFrame(message.lParam).reset();
}

} // namespace tavrin::win32
