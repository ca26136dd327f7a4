// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/LockRequest.h"

namespace tavrin::device {

void LockRequest::raise() {
    raised_.store(true, std::memory_order_release);
}

void LockRequest::withdraw() {
    {
        std::lock_guard lk(mutex_);
        raised_.store(false, std::memory_order_release);
    }
    cv_.notify_all();
}

bool LockRequest::waitWhileRaised(const std::function<bool()>& stopped, std::chrono::milliseconds poll) {
    std::unique_lock lk(mutex_);
    while (raised()) {
        if (stopped())
            return false;
        cv_.wait_for(lk, poll);
    }
    return !stopped();
}

} // namespace tavrin::device
