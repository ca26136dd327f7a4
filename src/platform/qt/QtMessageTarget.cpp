// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtMessageTarget.h"

#include "platform/qt/PostedMessageEvent.h"

#include <QCoreApplication>

#include <utility>

namespace tavrin::qt {

QtMessageTarget::QtMessageTarget(QObject* parent) : QObject(parent) {}

void QtMessageTarget::setHandler(Handler handler) {
    handler_ = std::move(handler);
}

void QtMessageTarget::postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new PostedMessageEvent(message, wParam, lParam));
}

bool QtMessageTarget::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::eventType())
        return QObject::event(event);
    const auto* posted = static_cast<PostedMessageEvent*>(event);
    if (handler_)
        handler_(posted->message, posted->wParam, posted->lParam);
    return true;
}

} // namespace tavrin::qt
