#pragma once

#include "app/Messages.h"
#include "display/DisplaySettings.h"
#include "display/DisplayWindowSet.h"

namespace tavrin::qt_display {

class DisplayWindow;

// Makes DisplayWindows; a failure to set up drawing ends the program.
class QtDisplayWindowFactory : public display::DisplayWindowFactory {
  public:
    QtDisplayWindowFactory(display::DisplaySettings& settings, const app::ControlWindowLink& controlWindow)
        : settings_(settings), controlWindow_(controlWindow) {}

    std::unique_ptr<display::DisplayWindowHandle>
    createDisplayWindow(const display::DisplayWindowSpec& spec) override;
    // Message box "Error", then exit code -1.
    void fatalError(const char* text) override;

  private:
    display::DisplaySettings& settings_;
    const app::ControlWindowLink& controlWindow_;
};

// The display windows as the control window uses them (see display::DisplayManager).
class QtDisplayManager final : public display::DisplayManager {
  public:
    QtDisplayManager(display::DisplaySettings& settings, const app::ControlWindowLink& controlWindow)
        : factory_(settings, controlWindow), windows_(settings, factory_) {}

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
