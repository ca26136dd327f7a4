// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "display/DisplayWindowSet.h"

#include <functional>
#include <memory>

struct HINSTANCE__;

namespace tavrin::win32 {

// The picture windows for now: plain GDI windows that show the part of the converted
// image their plan names, stretched to the client area (StretchDIBits, COLORONCOLOR).
// What windows a layout has, their titles and sizes come from display::DisplayWindowSet;
// closing one closes the program (WM_CLOSE to the control window). Direct3D, the menu,
// the sizing rule and full screen come with the real display windows.
class Win32DisplayWindows final : public display::DisplayWindowFactory {
  public:
    using FatalError = std::function<void(const char* text)>;
    Win32DisplayWindows(HINSTANCE__* instance, base::MessageLink& controlWindow, FatalError fatalError);

    std::unique_ptr<display::DisplayWindowHandle>
    createDisplayWindow(const display::DisplayWindowPlan& plan) override;
    void fatalError(const char* text) override;

  private:
    HINSTANCE__* instance_;
    base::MessageLink& controlWindow_;
    FatalError fatalError_;
};

} // namespace tavrin::win32
