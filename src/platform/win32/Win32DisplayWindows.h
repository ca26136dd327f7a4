// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "base/ProgramOptions.h"
#include "base/Settings.h"
#include "display/DisplayWindowSet.h"

#include <functional>
#include <memory>
#include <vector>

struct HINSTANCE__;

namespace tavrin::win32 {

class Win32DisplayWindow;

// The picture windows: Direct3D 9 where it starts, GDI where it does not. What windows
// a layout has, their titles and sizes come from display::DisplayWindowSet; the menu,
// keys and commands from display::DisplayWindowActions, as on Linux.
class Win32DisplayWindows final : public display::DisplayWindowFactory {
  public:
    using FatalError = std::function<void(const char* text)>;
    // `options` may be null (no menu items for the program's own options).
    Win32DisplayWindows(HINSTANCE__* instance, base::Settings& settings, base::ProgramOptions* options,
                        base::MessageLink& controlWindow, FatalError fatalError);
    ~Win32DisplayWindows() override;

    std::unique_ptr<display::DisplayWindowHandle>
    createDisplayWindow(const display::DisplayWindowPlan& plan) override;
    void fatalError(const char* text) override;

    // The picture options changed in one window: every window takes them.
    void rearrangeAll(bool shape);
    void forget(Win32DisplayWindow* window);

  private:
    HINSTANCE__* instance_;
    base::Settings& settings_;
    base::ProgramOptions* options_;
    display::PictureOptions plainPicture_;
    base::MessageLink& controlWindow_;
    FatalError fatalError_;
    std::vector<Win32DisplayWindow*> windows_;
};

} // namespace tavrin::win32
