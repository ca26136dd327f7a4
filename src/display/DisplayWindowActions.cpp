// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/DisplayWindowActions.h"

namespace tavrin::display {

void DisplayWindowActions::keyDown(DisplayKey key) {
    switch (key) {
    case DisplayKey::Escape:
        leaveFullScreen(); // also in a normal window: re-applies the frame and z-order
        break;
    case DisplayKey::F3:
        host_.postCommand(ID_ALWAYS_ON_TOP);
        break;
    case DisplayKey::F4:
        host_.postCommand(settings_.pointScaling ? ID_SCALING_BILINEAR : ID_SCALING_POINT);
        break;
    case DisplayKey::F12:
        controlWindow_.post(base::WM_SYSCOMMAND, base::kDebugConsoleCommand, 0);
        break;
    case DisplayKey::AltEnter:
        toggleFullScreen();
        break;
    }
}

bool DisplayWindowActions::command(int32_t id) {
    switch (id) {
    case ID_SCALING_BILINEAR:
        settings_.pointScaling = 0; // used from the next paint on
        return true;
    case ID_SCALING_POINT:
        settings_.pointScaling = 1;
        return true;
    case ID_ALWAYS_ON_TOP:
        settings_.alwaysOnTop = settings_.alwaysOnTop ? 0 : 1;
        controlWindow_.post(base::UM_TOPMOST, 0, 0);
        return true;
    case ID_FULL_SCREEN:
        toggleFullScreen();
        return true;
    case ID_SHARE_AS_CAMERA:
        if (!options_)
            return false;
        options_->camera = !options_->camera;
        controlWindow_.post(base::UM_CAMERA, 0, 0);
        return true;
    default:
        return false;
    }
}

void DisplayWindowActions::toggleFullScreen() {
    if (host_.inFullScreen())
        leaveFullScreen();
    else
        host_.enterFullScreen();
}

void DisplayWindowActions::leaveFullScreen() {
    host_.leaveFullScreen(settings_.alwaysOnTop != 0);
}

void DisplayWindowActions::closeRequested() {
    controlWindow_.post(base::WM_CLOSE, 0, 0);
}

std::vector<MenuEntry> DisplayWindowActions::contextMenu() const {
    MenuEntry scaling{MenuEntry::Submenu, "Scaling\tF4", 0, false, {}};
    scaling.children = {
        {MenuEntry::Item, "Bilinear", ID_SCALING_BILINEAR, settings_.pointScaling == 0, {}},
        {MenuEntry::Item, "Point", ID_SCALING_POINT, settings_.pointScaling != 0, {}},
    };
    std::vector<MenuEntry> menu = {
        {MenuEntry::Item, "Always on top\tF3", ID_ALWAYS_ON_TOP, settings_.alwaysOnTop != 0, {}},
        scaling,
        {MenuEntry::Separator, "", 0, false, {}},
        {MenuEntry::Item, "Full Screen\tAlt+Enter", ID_FULL_SCREEN, host_.inFullScreen(), {}},
    };
    if (options_) {
        menu.push_back({MenuEntry::Separator, "", 0, false, {}});
        menu.push_back({MenuEntry::Item, "Share as camera", ID_SHARE_AS_CAMERA, options_->camera, {}});
    }
    return menu;
}

} // namespace tavrin::display
