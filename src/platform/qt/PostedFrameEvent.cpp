// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/PostedFrameEvent.h"

#include "base/EventSlots.h"

#include <utility>

namespace tavrin::qt {

namespace {
// More than the twelve frames that exist, so the heap is only a safety net.
using FrameEventSlots = base::EventSlots<PostedFrameEvent, 16>;
} // namespace

PostedFrameEvent::PostedFrameEvent(device::FrameRef frame_) : QEvent(eventType()), frame(std::move(frame_)) {}

QEvent::Type PostedFrameEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void* PostedFrameEvent::operator new(std::size_t size) {
    return FrameEventSlots::take(size);
}

void PostedFrameEvent::operator delete(void* event) noexcept {
    FrameEventSlots::give(event);
}

std::size_t PostedFrameEvent::heapEvents() {
    return FrameEventSlots::heapEvents();
}

} // namespace tavrin::qt
