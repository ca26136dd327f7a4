// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtModifierKeys.h"

#include <QGuiApplication>
#include <QThread>

namespace tavrin::qt {

bool QtModifierKeys::ctrlAndAltHeld() const {
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui || QThread::currentThread() != gui->thread())
        return false;
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    return held.testFlag(Qt::ControlModifier) && held.testFlag(Qt::AltModifier);
}

} // namespace tavrin::qt
