// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "base/ProgramOptions.h"
#include "display/DisplaySettings.h"
#include "display/DisplayWindowSet.h"

#include <functional>
#include <string_view>

namespace tavrin::qt_display {

class DisplayWindow;

// Ends the program after telling the user; `text` is the message.
using FatalErrorHandler = std::function<void(std::string_view text)>;

// Message box "Error" with `text`, then exit code -1.
void showFatalErrorAndExit(std::string_view text);

// Makes DisplayWindows; a failure to set up drawing ends the program.
class QtDisplayWindowFactory : public display::DisplayWindowFactory {
  public:
    QtDisplayWindowFactory(display::DisplaySettings& settings, const base::ControlWindowLink& controlWindow,
                           FatalErrorHandler fatalError, base::ProgramOptions* options = nullptr)
        : settings_(settings), controlWindow_(controlWindow), fatalError_(std::move(fatalError)),
          options_(options) {}

    std::unique_ptr<display::DisplayWindowHandle>
    createDisplayWindow(const display::DisplayWindowPlan& plan) override;
    void fatalError(const char* text) override;
    display::ScreenArea screenArea() override;

  private:
    display::DisplaySettings& settings_;
    const base::ControlWindowLink& controlWindow_;
    FatalErrorHandler fatalError_;
    base::ProgramOptions* options_;
};

// The display windows as the control window uses them (see display::DisplayManager).
// `fatalError` is how the program ends on "display1.init() fail", "display2.init()
// fail" and "dx.init() failed"; by default a message box and exit code -1.
class QtDisplayManager final : public display::DisplayManager {
  public:
    // `options`: the program's own options for the windows' menus; may be null.
    QtDisplayManager(display::DisplaySettings& settings, const base::ControlWindowLink& controlWindow,
                     FatalErrorHandler fatalError = showFatalErrorAndExit,
                     base::ProgramOptions* options = nullptr)
        : factory_(settings, controlWindow, std::move(fatalError), options), windows_(settings, factory_) {}

    void applyDisplayMode(int layoutId, bool split) override { windows_.applyDisplayMode(layoutId, split); }
    void destroyDisplayWindows() override { windows_.destroyDisplayWindows(); }
    display::DisplayTarget* mainDisplay() override { return windows_.mainDisplay(); }
    display::DisplayTarget* bottomDisplay() override { return windows_.bottomDisplay(); }
    void applyTopmost() override { windows_.applyTopmost(); }
    void focusMainDisplay() override { windows_.focusMainDisplay(); }

    DisplayWindow* mainWindow();
    DisplayWindow* bottomWindow();

  private:
    QtDisplayWindowFactory factory_;
    display::DisplayWindowSet windows_; // after factory_: the windows go first
};

} // namespace tavrin::qt_display
