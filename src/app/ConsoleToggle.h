// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace tavrin::app {

struct CaptureApp;

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

// The "&Debug console" command. Runs on the control window's thread.
class ConsoleToggle {
  public:
    ConsoleToggle(ConsoleView& view, CaptureApp& app);

    // True when a new console was shown (and CaptureApp::consoleOpen set).
    bool openDebugConsole();
    // Opens the console and starts the statistics thread the first time, or
    // closes the console that is open.
    void toggle();
    // The user closed the console window itself: the same as toggling it closed.
    void consoleClosed();
    bool isOpen() const;

  private:
    void close();

    ConsoleView& view_;
    CaptureApp& app_;
};

} // namespace tavrin::app
