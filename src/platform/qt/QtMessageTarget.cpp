// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtMessageTarget.h"

#include "platform/qt/PostedFrameEvent.h"
#include "platform/qt/PostedMessageEvent.h"

#include <QCoreApplication>

#include <utility>

namespace tavrin::qt {

QtMessageTarget::QtMessageTarget(QObject* parent) : QObject(parent) {}

void QtMessageTarget::setHandler(Handler handler) {
    handler_ = std::move(handler);
}

void QtMessageTarget::setFrameHandler(FrameHandler handler) {
    frameHandler_ = std::move(handler);
}

void QtMessageTarget::postFrame(device::FrameRef frame) {
    if (frame)
        QCoreApplication::postEvent(this, new PostedFrameEvent(std::move(frame)));
}

void QtMessageTarget::postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new PostedMessageEvent(message, wParam, lParam));
}

bool QtMessageTarget::event(QEvent* event) {
    if (event->type() == PostedFrameEvent::eventType()) {
        // Qt deletes the event afterwards; a frame not taken goes with it.
        auto* posted = static_cast<PostedFrameEvent*>(event);
        if (frameHandler_)
            frameHandler_(std::move(posted->frame));
        return true;
    }
    if (event->type() != PostedMessageEvent::eventType())
        return QObject::event(event);
    const auto* posted = static_cast<PostedMessageEvent*>(event);
    if (handler_)
        handler_(posted->message, posted->wParam, posted->lParam);
    return true;
}

} // namespace tavrin::qt
