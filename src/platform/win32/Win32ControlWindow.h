// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ControlWindowView.h"
#include "platform/win32/Win32MessageTarget.h"
#include "update/UpdatePrompt.h"

#include <cstdint>
#include <functional>
#include <map>

struct HWND__;
struct HINSTANCE__;
struct HICON__;

namespace tavrin::app {
class ControlWindowLogic;
}

namespace tavrin::win32 {

// The push-button state (PBS_NORMAL 1 ... PBS_DEFAULTED 5) an icon button is drawn
// in: the first of disabled, pressed, checked push-like, hot, default and focused
// that holds.
struct ButtonLook {
    bool disabled = false;
    bool selected = false;
    bool pushLikeChecked = false;
    bool hot = false;
    bool defaultButton = false;
    bool focused = false;
};
int pushButtonState(const ButtonLook& look);

// Where an icon of `iconSize` goes, centred in a content rectangle (left, top,
// width, height): each half of the spare room rounded toward zero.
struct IconOrigin {
    int x;
    int y;
};
IconOrigin centredIcon(int left, int top, int width, int height, int iconSize);

// The control window: the modeless dialog of resource 102, of the class
// "TavrinCapture ControlWindow". It only draws and reads input; clicks, list picks,
// timer ticks and posted messages go to ControlWindowLogic.
class Win32ControlWindow final : public app::ControlWindowView, public update::UpdatePrompt {
  public:
    static constexpr const wchar_t* kClassName = L"TavrinCapture ControlWindow";

    explicit Win32ControlWindow(HINSTANCE__* instance);
    ~Win32ControlWindow() override;
    Win32ControlWindow(const Win32ControlWindow&) = delete;
    Win32ControlWindow& operator=(const Win32ControlWindow&) = delete;

    // The dialog's class: the system dialog class under the program's name and icon.
    static void registerClass(HINSTANCE__* instance);

    // Routes the window's events to `logic` from now on. Call once, before create().
    // `initialised` runs at the end of the dialog's initialisation.
    void attach(app::ControlWindowLogic& logic, std::function<void()> initialised);
    // Creates the dialog; its initialisation (the logic's too) runs inside. False on failure.
    bool create();
    HWND__* handle() const { return window_; }
    // Where other threads post the program's messages for this window.
    Win32MessageTarget& messageTarget() { return target_; }
    // True while the debug console item is in the system menu.
    void setConsoleAvailable(bool available) { consoleAvailable_ = available; }

    // --- app::ControlWindowView ---
    void setStatusText(const std::string& text) override;
    void setRecordIcon(app::RecordIcon icon) override;
    void setRecordChecked(bool checked) override;
    void setSettingsControlsEnabled(bool enabled) override;
    void addDisplayModeItem(const std::string& text) override;
    void selectDisplayModeItem(int index) override;
    void startBlinkTimer(std::chrono::milliseconds period) override;
    void stopBlinkTimer() override;
    void focusStatusLine() override;
    void destroyWindow() override;
    void postQuit(int exitCode) override;
    void retryLater(std::function<void()> retry, std::chrono::milliseconds delay) override;

    // --- update::UpdatePrompt ---
    void offerUpdate(const std::string& url) override;

  private:
    static intptr_t __stdcall dialogProc(HWND__* window, unsigned message, uintptr_t wParam, intptr_t lParam);
    intptr_t onMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
    void initialise();
    intptr_t drawIconButton(intptr_t customDraw);
    void openTheme();
    void closeTheme();

    HINSTANCE__* instance_;
    HWND__* window_ = nullptr;
    unsigned long thread_ = 0;
    app::ControlWindowLogic* logic_ = nullptr;
    std::function<void()> initialised_;
    Win32MessageTarget target_;
    void* buttonTheme_ = nullptr;
    HICON__* iconRecordIdle_ = nullptr;
    HICON__* iconRecordActive_ = nullptr;
    HICON__* iconScreenshot_ = nullptr;
    bool consoleAvailable_ = false;
    // Timers of retryLater, by id; timer 1 is the blink timer.
    std::map<uintptr_t, std::function<void()>> retries_;
    uintptr_t nextRetryTimer_ = 100;
};

} // namespace tavrin::win32
