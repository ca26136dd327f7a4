// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QEvent>

#include <cstdint>

namespace tavrin::qt {

// One of the program's window messages, posted to a QObject: the message number
// and its two parameters, as other threads hand them over.
class PostedMessageEvent : public QEvent {
  public:
    PostedMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // The event type, registered with Qt once per process.
    static QEvent::Type eventType();

    const uint32_t message;
    const uintptr_t wParam;
    const intptr_t lParam;
};

} // namespace tavrin::qt
