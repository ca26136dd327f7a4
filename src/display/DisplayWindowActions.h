// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "base/ProgramOptions.h"
#include "base/Settings.h"
#include "display/PictureArrangement.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::display {

// Command identifiers of the display window's context menu.
constexpr int32_t ID_SCALING_BILINEAR = 40022;
constexpr int32_t ID_SCALING_POINT = 40023;
constexpr int32_t ID_ALWAYS_ON_TOP = 40026;
constexpr int32_t ID_FULL_SCREEN = 40027;
constexpr int32_t ID_SHARE_AS_CAMERA = 40028;
constexpr int32_t ID_LISTEN = 40029;
// The arrangement of the picture (the program's own options).
constexpr int32_t ID_ARRANGE_STACKED = 40030;
constexpr int32_t ID_ARRANGE_SIDE_BY_SIDE = 40031;
constexpr int32_t ID_GAP_FIRST = 40040; // + index into kGapChoices; + kGapChoices.size(): the stored value
constexpr int32_t ID_SWAP_SCREENS = 40050;
constexpr int32_t ID_ROTATION_FIRST = 40060; // + quarter turns
constexpr int32_t ID_INTEGER_SCALING = 40070;

inline constexpr std::array<int32_t, 6> kGapChoices{0, 8, 16, 32, 64, 96};

enum class DisplayKey { Escape, F3, F4, F6, F7, F12, AltEnter };

struct MenuEntry {
    enum Kind { Item, Submenu, Separator };
    Kind kind = Item;
    std::string text;
    int32_t id = 0;
    bool checked = false;
    std::vector<MenuEntry> children;
    bool enabled = true;
    std::string tip; // why it is unavailable
};

// What the actions need of the window they belong to.
class DisplayWindowHost {
  public:
    virtual ~DisplayWindowHost() = default;
    // Queues `id` for this window's command(), like a posted menu command.
    virtual void postCommand(int32_t id) = 0;
    // Maximized or full screen: the two are the same state for a display window.
    virtual bool inFullScreen() const = 0;
    // Borderless, on top of everything, covering its monitor.
    virtual void enterFullScreen() = 0;
    // Framed again at the size it had before, on top only when `topmost`.
    virtual void leaveFullScreen(bool topmost) = 0;
    // Why the window system cannot keep the window above others; empty when it can.
    virtual std::string topmostUnavailable() const { return {}; }
    // The picture options changed; `shape`: the picture's size changed with them.
    virtual void pictureChanged(bool /*shape*/) {}
};

// The display window's menu, keys and commands, on the GUI thread.
class DisplayWindowActions {
  public:
    // Reads and writes the display fields of `settings` (displayMode, splitWindows,
    // alwaysOnTop, pointScaling, shrinkWhenMaximized, maximizedShrink, clientWidth,
    // clientHeight). `options`: the program's own options; null leaves their items out
    // of the menu.
    DisplayWindowActions(base::Settings& settings, PictureOptions& picture,
                         const base::MessageLink& controlWindow, DisplayWindowHost& host,
                         base::ProgramOptions* options = nullptr)
        : settings_(settings), picture_(picture), controlWindow_(controlWindow), host_(host),
          options_(options) {}

    void keyDown(DisplayKey key);
    // One of the menu commands; false for any other identifier.
    bool command(int32_t id);
    void toggleFullScreen();
    void leaveFullScreen();
    // The user closed the window: the control window ends the program.
    void closeRequested();
    // Dragging the window by its picture is only for a normal window.
    bool dragAllowed() const { return !host_.inFullScreen(); }
    // The context menu with its check marks as they are now.
    std::vector<MenuEntry> contextMenu() const;

  private:
    void changePicture(const PictureOptions& to);

    base::Settings& settings_;
    PictureOptions& picture_;
    const base::MessageLink& controlWindow_;
    DisplayWindowHost& host_;
    base::ProgramOptions* options_;
};

} // namespace tavrin::display
