// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ConsoleToggle.h"

#include "app/CaptureApp.h"
#include "app/DebugConsole.h"

namespace tavrin::app {

ConsoleToggle::ConsoleToggle(ConsoleView& view, CaptureApp& app) : view_(view), app_(app) {}

bool ConsoleToggle::isOpen() const {
    return app_.consoleOpen.load();
}

bool ConsoleToggle::openDebugConsole() {
    if (!view_.createConsole())
        return false;
    app_.consoleOpen.store(true);
    return true;
}

void ConsoleToggle::toggle() {
    if (openDebugConsole())
        startStatsThread(app_); // does nothing after the first time
    else
        close();
}

void ConsoleToggle::consoleClosed() {
    if (isOpen())
        close();
}

void ConsoleToggle::close() {
    view_.destroyConsole();
    app_.consoleOpen.store(false);
}

} // namespace tavrin::app
