// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "base/ProgramOptions.h"
#include "base/Settings.h"
#include "display/DisplayWindowSet.h"

#include <QPoint>
#include <QRect>
#include <QSize>

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
    QtDisplayWindowFactory(base::Settings& settings, display::PictureOptions& picture,
                           const base::MessageLink& controlWindow, FatalErrorHandler fatalError,
                           std::function<void(bool)> rearrangeAll, base::ProgramOptions* options = nullptr)
        : settings_(settings), picture_(picture), controlWindow_(controlWindow),
          fatalError_(std::move(fatalError)), rearrangeAll_(std::move(rearrangeAll)), options_(options) {}

    std::unique_ptr<display::DisplayWindowHandle>
    createDisplayWindow(const display::DisplayWindowPlan& plan) override;
    void fatalError(const char* text) override;
    display::ScreenArea screenArea() override;
    // Outer width to keep free beside the windows it places (the control window's).
    void setRoomBeside(int width) { roomBeside_ = width; }

  private:
    int roomBeside_ = 0;
    base::Settings& settings_;
    display::PictureOptions& picture_;
    const base::MessageLink& controlWindow_;
    FatalErrorHandler fatalError_;
    std::function<void(bool)> rearrangeAll_;
    base::ProgramOptions* options_;
};

// The display windows as the control window uses them (see display::DisplayManager).
// `fatalError` is how the program ends on "display1.init() fail", "display2.init()
// fail" and "dx.init() failed"; by default a message box and exit code -1.
class QtDisplayManager final : public display::DisplayManager {
  public:
    // `options`: the program's own options for the windows' menus; may be null.
    // `picture`: where the picture options are kept; null: the manager's own.
    QtDisplayManager(base::Settings& settings, const base::MessageLink& controlWindow,
                     FatalErrorHandler fatalError = showFatalErrorAndExit,
                     base::ProgramOptions* options = nullptr, display::PictureOptions* picture = nullptr)
        : picture_(picture ? *picture : ownPicture_),
          factory_(
              settings, picture_, controlWindow, std::move(fatalError),
              [this](bool shape) { rearrange(shape); }, options),
          windows_(settings, factory_, picture_) {}

    void applyDisplayMode(int layoutId, bool split) override { windows_.applyDisplayMode(layoutId, split); }
    void destroyDisplayWindows() override { windows_.destroyDisplayWindows(); }
    display::DisplayTarget* mainDisplay() override { return windows_.mainDisplay(); }
    display::DisplayTarget* bottomDisplay() override { return windows_.bottomDisplay(); }
    void applyTopmost() override { windows_.applyTopmost(); }
    void focusMainDisplay() override { windows_.focusMainDisplay(); }

    DisplayWindow* mainWindow();
    DisplayWindow* bottomWindow();

    // How the windows lay out the picture (the program's own options); changed from
    // their menus, or here followed by rearrange().
    display::PictureOptions& pictureOptions() { return picture_; }
    void rearrange(bool shape);

    // Windows the program can place (not on Wayland): the display windows leave room
    // for one more window of outer width `roomBeside` at their right, and
    // placeBeside() gives that window's top-left corner clear of them.
    static bool canPlaceWindows();
    void setRoomBeside(int width) { factory_.setRoomBeside(width); }
    QPoint placeBeside(const QSize& clientSize);
    // The outer rectangle of a window whose client area is `client`, as far as the
    // window manager's frame is known (a guess on the large side until one is seen).
    static QRect withFrame(const QRect& client);

  private:
    display::PictureOptions ownPicture_;
    display::PictureOptions& picture_;
    QtDisplayWindowFactory factory_;
    display::DisplayWindowSet windows_; // after factory_: the windows go first
};

} // namespace tavrin::qt_display
