// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tavrin::device {

// A device switch asking for the application lock. The read thread takes that
// lock again the moment it has let go of it after a frame, so at 60 frames a
// second a switch that only tries the lock (it must not wait for it: a firmware
// update holds it for a whole run) would hardly ever get it. While a request
// stands, the read thread holds back before its next read, and the switch's next
// try finds the lock free within one frame read.
class LockRequest {
  public:
    // By the switch, before each try of the lock; stands until withdrawn.
    void raise();
    void withdraw();
    bool raised() const { return raised_.load(std::memory_order_acquire); }

    // By the read thread before it takes the lock: returns true once no request
    // stands, false as soon as `stopped` says so (asked every `poll`).
    bool waitWhileRaised(const std::function<bool()>& stopped,
                         std::chrono::milliseconds poll = std::chrono::milliseconds(20));

  private:
    std::atomic<bool> raised_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
};

} // namespace tavrin::device
