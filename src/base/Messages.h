// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

namespace tavrin::base {

// The program's own messages, all posted to the control window. Their numbers are fixed.
constexpr uint32_t UM_FRAME = 1025; // a typed event carrying the frame
constexpr uint32_t UM_FOCUS_DISPLAY = 1026;
constexpr uint32_t UM_DEVICE = 1027; // wParam: 1 connected, 0 not, see below
// UM_DEVICE's wParam when a board is there but this user may not open it.
constexpr uintptr_t kDeviceNoPermission = 2;
constexpr uint32_t UM_TOPMOST = 1028;
// Ours, after the fixed ones: ProgramOptions::camera changed, apply it.
constexpr uint32_t UM_CAMERA = 1029;
// ProgramOptions::listen (or the sound input it plays) changed, apply it.
constexpr uint32_t UM_LISTEN = 1030;

// The two requests other windows post to the control window besides those: close
// the program the ordinary way, and the system command whose wParam is
// kDebugConsoleCommand, which toggles the debug console. The numbers are ours.
constexpr uint32_t WM_CLOSE = 1;
constexpr uint32_t WM_SYSCOMMAND = 2;
constexpr uintptr_t kDebugConsoleCommand = 0;

// Something that accepts posted messages and handles them later on its own
// thread. Posting never blocks on the receiver.
class MessageTarget {
  public:
    virtual ~MessageTarget() = default;
    virtual void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Where the program's messages go, as other threads see it: the control
// window, possibly not there yet.
class MessageLink {
  public:
    void set(MessageTarget* target) { target_.store(target, std::memory_order_release); }
    bool isSet() const { return target_.load(std::memory_order_acquire) != nullptr; }
    // Returns false (and posts nothing) while no control window exists.
    bool post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) const {
        MessageTarget* target = target_.load(std::memory_order_acquire);
        if (!target)
            return false;
        target->postMessage(message, wParam, lParam);
        return true;
    }

  private:
    std::atomic<MessageTarget*> target_{nullptr};
};

} // namespace tavrin::base
