// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameRef.h"

#include <QEvent>

#include <cstddef>

namespace tavrin::qt {

// UM_FRAME posted to a QObject: the frame travels with its reference. Dropping
// the event undelivered (its receiver or the event queue gone first) lets go of
// the frame, which then goes back to the pool.
//
// Qt deletes every posted event after delivery. A frame arrives sixty times a
// second, so these events come from a fixed set of slots rather than the heap:
// at most twelve frames exist, so at most twelve of these at once.
class PostedFrameEvent : public QEvent {
  public:
    explicit PostedFrameEvent(device::FrameRef frame);

    // The event type, registered with Qt once per process.
    static QEvent::Type eventType();

    static void* operator new(std::size_t size);
    static void operator delete(void* event) noexcept;
    // Events that had to come from the heap because every slot was taken.
    static std::size_t heapEvents();

    device::FrameRef frame;
};

} // namespace tavrin::qt
