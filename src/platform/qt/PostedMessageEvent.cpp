// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/PostedMessageEvent.h"

namespace tavrin::qt {

PostedMessageEvent::PostedMessageEvent(uint32_t message_, uintptr_t wParam_, intptr_t lParam_)
    : QEvent(eventType()), message(message_), wParam(wParam_), lParam(lParam_) {}

QEvent::Type PostedMessageEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace tavrin::qt
