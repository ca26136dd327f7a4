// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/FirmwareDialogLogic.h"
#include "app/FirmwareDialogView.h"
#include "base/Settings.h"
#include "record/AudioSettingsDialogLogic.h"
#include "record/MediaPlatform.h"
#include "record/VideoCodecDialogLogic.h"

#include <cstdint>
#include <functional>
#include <string>

struct HWND__;
struct HINSTANCE__;

namespace tavrin::win32 {

// A modal dialog from the program's resources. Subclasses only move values between
// their controls and their layer's logic.
class Win32ModalDialog {
  public:
    virtual ~Win32ModalDialog() = default;
    // Runs dialog resource `id` owned by `owner` until it ends; its result, or -1
    // when it could not be made.
    intptr_t run(HINSTANCE__* instance, HWND__* owner, int id);
    HWND__* handle() const { return window_; }

  protected:
    virtual void onInit() = 0;
    // WM_COMMAND: the control's id and notification code.
    virtual void onCommand(int id, int code) = 0;
    // Any other message; true when handled.
    virtual bool onMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
        (void)message, (void)wParam, (void)lParam;
        return false;
    }
    void end(intptr_t result);

    HWND__* window_ = nullptr;

  private:
    static intptr_t __stdcall dialogProc(HWND__* window, unsigned message, uintptr_t wParam, intptr_t lParam);
};

// The Video Codec dialog (resource 9).
class Win32VideoCodecDialog final : public Win32ModalDialog, private record::VideoCodecDialogView {
  public:
    Win32VideoCodecDialog(base::Settings& settings, record::MediaPlatform& platform)
        : logic_(*this, settings, platform) {}

  private:
    void onInit() override;
    void onCommand(int id, int code) override;
    bool onMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override;

    void setCodecItems(const std::vector<std::string>& items) override;
    void setCodecSelection(int index) override;
    int codecSelection() const override;
    void setQuality(int position, const std::string& text, bool enabled) override;
    int qualityPosition() const override;
    void setFps(int position, const std::string& text) override;
    void enableConfigure(bool enabled) override;
    void enableAbout(bool enabled) override;
    void setScreens(uint32_t screens) override;
    bool topChecked() const override;
    bool bottomChecked() const override;
    void* window() override { return window_; }

    record::VideoCodecDialogLogic logic_;
};

// The Audio Settings dialog (resource 103). `openSoundSettings` runs for its
// "Control Panel" button with the dialog as owner.
class Win32AudioSettingsDialog final : public Win32ModalDialog, private record::AudioSettingsDialogView {
  public:
    Win32AudioSettingsDialog(base::Settings& settings, record::MediaPlatform& platform,
                             std::function<void(HWND__*)> openSoundSettings)
        : logic_(*this, settings, platform), openSoundSettings_(std::move(openSoundSettings)) {}

  private:
    void onInit() override;
    void onCommand(int id, int code) override;

    void setSourceItems(const std::vector<std::string>& items) override;
    void setSourceSelection(int index) override;
    int sourceSelection() const override;
    void setCompressorItems(const std::vector<std::string>& items) override;
    void setCompressorSelection(int index) override;
    int compressorSelection() const override;

    record::AudioSettingsDialogLogic logic_;
    std::function<void(HWND__*)> openSoundSettings_;
};

// The firmware dialog (resource 111): its update runs on the logic's worker, whose
// progress and result come back as posted messages.
class Win32FirmwareDialog final : public Win32ModalDialog, private app::FirmwareDialogView {
  public:
    explicit Win32FirmwareDialog(app::CaptureApp& app) : logic_(app, *this) {}
    // The board came back needing nothing (AppPlatform::endFirmwareDialog).
    void boardReady() { logic_.boardReady(); }

  private:
    void onInit() override;
    void onCommand(int id, int code) override;
    bool onMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override;

    void setProgress(int perMille) override;
    void postWorkerFinished(int code) override;
    void showFailure(const std::string& caption) override;
    void setStartText(const std::string& text) override;
    void setButtonsEnabled(bool enabled) override;
    void endDialog(int result) override;

    app::FirmwareDialogLogic logic_;
};

// The system's sound settings, recording page, through the shell. False when the
// shell could not start them.
bool openSoundSettings(HWND__* owner);

} // namespace tavrin::win32
