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
    case DisplayKey::F6:
        host_.postCommand(ID_SWAP_SCREENS);
        break;
    case DisplayKey::F7:
        host_.postCommand(ID_LISTEN);
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
        if (!host_.topmostUnavailable().empty())
            return true; // the stored choice stays for a desktop where it works
        settings_.alwaysOnTop = settings_.alwaysOnTop ? 0 : 1;
        controlWindow_.post(base::UM_TOPMOST, 0, 0);
        return true;
    case ID_FULL_SCREEN:
        toggleFullScreen();
        return true;
    case ID_SHARE_AS_CAMERA:
        if (!options_ || !options_->inBuild.camera)
            return false;
        options_->camera = !options_->camera;
        controlWindow_.post(base::UM_CAMERA, 0, 0);
        return true;
    case ID_LISTEN:
        if (!options_ || !options_->inBuild.listen)
            return false;
        options_->listen = !options_->listen;
        controlWindow_.post(base::UM_LISTEN, 0, 0);
        return true;
    default:
        break;
    }
    PictureOptions to = picture_;
    if (id == ID_ARRANGE_STACKED || id == ID_ARRANGE_SIDE_BY_SIDE)
        to.arrangement = id == ID_ARRANGE_STACKED ? Arrangement::Stacked : Arrangement::SideBySide;
    else if (id >= ID_GAP_FIRST && id < ID_GAP_FIRST + static_cast<int32_t>(kGapChoices.size()))
        to.gap = kGapChoices[static_cast<std::size_t>(id - ID_GAP_FIRST)];
    else if (id == ID_GAP_FIRST + static_cast<int32_t>(kGapChoices.size()))
        return true; // the stored gap, already in force
    else if (id == ID_SWAP_SCREENS)
        to.swap = !to.swap;
    else if (id >= ID_ROTATION_FIRST && id < ID_ROTATION_FIRST + 4)
        to.rotation = (id - ID_ROTATION_FIRST) * 90;
    else if (id == ID_INTEGER_SCALING)
        to.integerScale = !to.integerScale;
    else
        return false;
    changePicture(to);
    return true;
}

void DisplayWindowActions::changePicture(const PictureOptions& to) {
    if (to == picture_)
        return;
    // Swapping the screens or the way of scaling leaves the picture's size alone.
    const bool shape =
        to.arrangement != picture_.arrangement || to.gap != picture_.gap || to.rotation != picture_.rotation;
    picture_ = to;
    host_.pictureChanged(shape);
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
    MenuEntry topmost{MenuEntry::Item, "Always on top\tF3", ID_ALWAYS_ON_TOP, settings_.alwaysOnTop != 0, {}};
    topmost.tip = host_.topmostUnavailable();
    if (!topmost.tip.empty()) {
        topmost.enabled = false;
        topmost.checked = false;
    }
    auto item = [](std::string text, int32_t id, bool checked) {
        return MenuEntry{MenuEntry::Item, std::move(text), id, checked, {}};
    };
    MenuEntry arrangement{MenuEntry::Submenu, "Arrangement", 0, false, {}};
    arrangement.children = {
        item("Stacked", ID_ARRANGE_STACKED, picture_.arrangement == Arrangement::Stacked),
        item("Side by side", ID_ARRANGE_SIDE_BY_SIDE, picture_.arrangement == Arrangement::SideBySide),
    };
    MenuEntry gap{MenuEntry::Submenu, "Screen gap", 0, false, {}};
    bool gapListed = false;
    for (std::size_t i = 0; i < kGapChoices.size(); ++i) {
        const int32_t g = kGapChoices[i];
        gapListed = gapListed || g == picture_.gap;
        gap.children.push_back(item(g == 0 ? "None" : std::to_string(g) + " pixels",
                                    ID_GAP_FIRST + static_cast<int32_t>(i), g == picture_.gap));
    }
    if (!gapListed)
        gap.children.push_back(item(std::to_string(picture_.gap) + " pixels",
                                    ID_GAP_FIRST + static_cast<int32_t>(kGapChoices.size()), true));
    MenuEntry rotation{MenuEntry::Submenu, "Rotation", 0, false, {}};
    for (int32_t quarter = 0; quarter < 4; ++quarter)
        rotation.children.push_back(item(std::to_string(quarter * 90) + "\u00b0", ID_ROTATION_FIRST + quarter,
                                         picture_.rotation == quarter * 90));
    std::vector<MenuEntry> menu = {
        topmost,
        scaling,
        {MenuEntry::Separator, "", 0, false, {}},
        item("Full Screen\tAlt+Enter", ID_FULL_SCREEN, host_.inFullScreen()),
        {MenuEntry::Separator, "", 0, false, {}},
        arrangement,
        gap,
        item("Swap screens\tF6", ID_SWAP_SCREENS, picture_.swap),
        rotation,
        item("Integer scaling", ID_INTEGER_SCALING, picture_.integerScale),
    };
    if (options_ && (options_->inBuild.camera || options_->inBuild.listen))
        menu.push_back({MenuEntry::Separator, "", 0, false, {}});
    if (options_ && options_->inBuild.camera)
        menu.push_back({MenuEntry::Item, "Share as camera", ID_SHARE_AS_CAMERA, options_->camera, {}});
    if (options_ && options_->inBuild.listen)
        menu.push_back({MenuEntry::Item, "Listen\tF7", ID_LISTEN, options_->listen, {}});
    return menu;
}

} // namespace tavrin::display
