#include "app/DebugConsole.h"

#include <utility>

namespace tavrin::app {

DebugConsole::DebugConsole(ConsoleView& view, std::atomic<bool>& consoleOpen,
                           std::function<void()> startStatsThread)
    : view_(view), consoleOpen_(consoleOpen), startStatsThread_(std::move(startStatsThread)) {}

bool DebugConsole::openDebugConsole() {
    if (!view_.createConsole())
        return false;
    consoleOpen_.store(true);
    return true;
}

void DebugConsole::toggle() {
    if (openDebugConsole()) {
        if (startStatsThread_)
            startStatsThread_();
        return;
    }
    view_.destroyConsole();
    consoleOpen_.store(false);
}

void DebugConsole::consoleClosed() {
    if (!isOpen())
        return;
    view_.destroyConsole();
    consoleOpen_.store(false);
}

} // namespace tavrin::app
