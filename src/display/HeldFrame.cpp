// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/HeldFrame.h"

#include <utility>

namespace tavrin::display {

void HeldFrame::present(device::FrameRef frame) {
    std::lock_guard lk(mutex_);
    frame_ = std::move(frame); // the previous frame is let go under the mutex
}

void HeldFrame::clear() {
    std::lock_guard lk(mutex_);
    frame_.reset();
}

bool HeldFrame::holdsFrame() const {
    std::lock_guard lk(mutex_);
    return static_cast<bool>(frame_);
}

} // namespace tavrin::display
