// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameSink.h"

#include <atomic>
#include <cstdint>

struct HWND__; // windows.h's HWND, without windows.h in a header the core's headers meet

namespace tavrin::win32 {

// Posts the program's messages and frames to the control window from any thread,
// as real window messages (PostMessageW); posting never waits. A frame travels as
// UM_FRAME whose lParam holds it, taken back with takeFrame on the window's thread.
// A frame that cannot be posted (no window, a full queue) goes back to the pool.
class Win32MessageTarget final : public device::FrameSink {
  public:
    // The window that receives; null drops everything posted from then on.
    void setWindow(HWND__* window) { window_.store(window, std::memory_order_release); }

    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void postFrame(device::FrameRef frame) override;

    // UM_FRAME's lParam back as the frame it carries.
    static device::FrameRef takeFrame(intptr_t lParam);
    // Lets go of the frames still queued for `window` (it is going away).
    static void dropQueuedFrames(HWND__* window);

  private:
    std::atomic<HWND__*> window_{nullptr};
};

} // namespace tavrin::win32
