// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/HeldFrame.h"

#include "device/FrameQueue.h"

namespace tavrin::display {

void HeldFrame::present(device::CaptureFrame* frame) {
    std::lock_guard lk(mutex_);
    if (frame_)
        device::releaseFrame(*frame_);
    frame_ = frame;
}

void HeldFrame::clear() {
    std::lock_guard lk(mutex_);
    if (frame_)
        device::releaseFrame(*frame_);
    frame_ = nullptr;
}

bool HeldFrame::holdsFrame() const {
    std::lock_guard lk(mutex_);
    return frame_ != nullptr;
}

} // namespace tavrin::display
