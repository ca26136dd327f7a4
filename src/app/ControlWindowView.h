// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/StatusLine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tavrin::app {

enum class RecordIcon { Idle, Active };

// What ControlWindowLogic needs of the window itself. Everything except
// setStatusText is called on the window's thread only.
class ControlWindowView : public base::StatusLine {
  public:
    // The image and the check state of the record button.
    virtual void setRecordIcon(RecordIcon icon) = 0;
    virtual void setRecordChecked(bool checked) = 0;
    // The video settings and audio settings buttons and the layout list, together.
    virtual void setSettingsControlsEnabled(bool enabled) = 0;
    virtual void addDisplayModeItem(const std::string& text) = 0;
    // Selects list item `index`; -1 leaves the list without a selection.
    virtual void selectDisplayModeItem(int index) = 0;
    // Timer 1: calls ControlWindowLogic::blinkTimer every `period` until stopped.
    virtual void startBlinkTimer(std::chrono::milliseconds period) = 0;
    virtual void stopBlinkTimer() = 0;
    // Moves the keyboard focus to the status line once the current handler has
    // returned, so that no button shows a focus mark.
    virtual void focusStatusLine() = 0;
    // Takes the window off the screen for good.
    virtual void destroyWindow() = 0;
    // Ends the message loop once the current handler has returned.
    virtual void postQuit(int exitCode) = 0;
    // Calls `retry` on the window's thread after `delay`, unless the window is gone by then.
    virtual void retryLater(std::function<void()> retry, std::chrono::milliseconds delay) = 0;
};

} // namespace tavrin::app
