#pragma once

#include <atomic>
#include <functional>

namespace tavrin::app {

// The console window as ConsoleToggle sees it.
class ConsoleView {
  public:
    virtual ~ConsoleView() = default;
    // Shows a new, empty console that receives the diagnostic lines from now on.
    // False when a console is already shown.
    virtual bool createConsole() = 0;
    // Hides the console; it receives nothing until created again.
    virtual void destroyConsole() = 0;
};

// The "&Debug console" toggle. Runs on the control window's thread.
class ConsoleToggle {
  public:
    // `consoleOpen` is the flag the frame conversion reads; `startStatsThread`
    // starts the statistics thread the first time and does nothing afterwards.
    ConsoleToggle(ConsoleView& view, std::atomic<bool>& consoleOpen, std::function<void()> startStatsThread);

    // True when a new console was shown.
    bool openDebugConsole();
    // Opens the console, or closes the one that is open.
    void toggle();
    // The user closed the console window itself: same as toggling it closed.
    void consoleClosed();
    bool isOpen() const { return consoleOpen_.load(std::memory_order_relaxed); }

  private:
    ConsoleView& view_;
    std::atomic<bool>& consoleOpen_;
    std::function<void()> startStatsThread_;
};

} // namespace tavrin::app
