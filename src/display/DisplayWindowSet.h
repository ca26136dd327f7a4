// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "display/DisplayTarget.h"
#include "display/ImagePart.h"
#include "display/PictureArrangement.h"
#include "display/WindowPlacement.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::display {

// One display window to create: which part it shows, at what size.
struct DisplayWindowPlan {
    std::string title;
    int32_t width = 0; // native size of the picture as arranged (see partWidth)
    int32_t height = 0;
    ImagePart part = PART_WHOLE;
    int32_t windowSlot = 0;  // index into the saved client sizes
    int32_t clientWidth = 0; // size to create the window at
    int32_t clientHeight = 0;
    bool positioned = false; // else the window system places it
    ClientPosition position; // the client area's top-left corner
    int32_t partWidth = 0;   // native size of the part of the image it shows
    int32_t partHeight = 0;
    bool twoScreens = false; // the part holds both screens
};

// The windows of a layout, in the order they are created (without saved sizes).
std::vector<DisplayWindowPlan> windowsForLayout(int32_t layoutId, bool split);

// A layout the display windows can show: a row of the table with a picture.
bool isDisplayableLayout(int32_t layoutId);

// A created display window as the set manages it.
class DisplayWindowHandle : public DisplayTarget {
  public:
    virtual void setTopmost(bool on) = 0;
    virtual void bringToFront() = 0;
};

class DisplayWindowFactory {
  public:
    virtual ~DisplayWindowFactory() = default;
    // Creates and shows the window; nullptr when the window cannot be created. A
    // window whose drawing cannot be set up ends the program itself.
    virtual std::unique_ptr<DisplayWindowHandle> createDisplayWindow(const DisplayWindowPlan& plan) = 0;
    // Where the windows will appear; unknown by default.
    virtual ScreenArea screenArea() { return {}; }
    // Tells the user (caption "Error") and ends the program with exit code -1.
    virtual void fatalError(const char* text) = 0;
};

// mainDisplay and bottomDisplay for the current layout.
class DisplayWindowSet : public DisplayManager {
  public:
    DisplayWindowSet(base::Settings& settings, DisplayWindowFactory& factory,
                     const PictureOptions& picture = kPlainPicture)
        : settings_(settings), factory_(factory), picture_(picture) {}
    DisplayWindowSet(const DisplayWindowSet&) = delete;
    DisplayWindowSet& operator=(const DisplayWindowSet&) = delete;
    ~DisplayWindowSet() override { destroyDisplayWindows(); }

    void applyDisplayMode(int layoutId, bool split) override;
    void destroyDisplayWindows() override;
    DisplayTarget* mainDisplay() override { return main_.get(); }
    DisplayTarget* bottomDisplay() override { return bottom_.get(); }
    void applyTopmost() override;
    void focusMainDisplay() override;

  private:
    static constexpr PictureOptions kPlainPicture{};

    base::Settings& settings_;
    DisplayWindowFactory& factory_;
    const PictureOptions& picture_;
    std::unique_ptr<DisplayWindowHandle> main_;
    std::unique_ptr<DisplayWindowHandle> bottom_;
};

} // namespace tavrin::display
