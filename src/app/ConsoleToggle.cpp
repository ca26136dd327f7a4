#include "app/ConsoleToggle.h"

#include <utility>

namespace tavrin::app {

ConsoleToggle::ConsoleToggle(ConsoleView& view, std::atomic<bool>& consoleOpen,
                             std::function<void()> startStatsThread)
    : view_(view), consoleOpen_(consoleOpen), startStatsThread_(std::move(startStatsThread)) {}

bool ConsoleToggle::openDebugConsole() {
    if (!view_.createConsole())
        return false;
    consoleOpen_.store(true);
    return true;
}

void ConsoleToggle::toggle() {
    if (openDebugConsole()) {
        if (startStatsThread_)
            startStatsThread_();
        return;
    }
    view_.destroyConsole();
    consoleOpen_.store(false);
}

void ConsoleToggle::consoleClosed() {
    if (!isOpen())
        return;
    view_.destroyConsole();
    consoleOpen_.store(false);
}

} // namespace tavrin::app
