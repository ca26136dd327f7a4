// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/AppPlatform.h"

#include <functional>
#include <memory>

struct HINSTANCE__;

namespace tavrin::base {
class UserFolders;
}

namespace tavrin::app {
struct CaptureApp;
}
namespace tavrin::record {
class MediaPlatform;
}

namespace tavrin::win32 {

// The window-system steps of start-up and shutdown on Win32: common controls v6
// (the manifest) and the component runtime, the control window of dialog resource
// 102 with everything it drives, device-interface arrivals, the message loop,
// "Error" message boxes and ExitProcess.
class Win32AppPlatform final : public app::AppPlatform {
  public:
    // `watchForArrivals`: register for the board's interface arrivals (not for the
    // simulated board, which tells of its own).
    // `makeMedia`: the media library to record with; none: the program cannot record.
    using MediaFactory = std::function<std::unique_ptr<record::MediaPlatform>()>;
    Win32AppPlatform(app::CaptureApp& app, base::UserFolders& folders, HINSTANCE__* instance,
                     bool watchForArrivals, MediaFactory makeMedia = {});
    ~Win32AppPlatform() override;
    Win32AppPlatform(const Win32AppPlatform&) = delete;
    Win32AppPlatform& operator=(const Win32AppPlatform&) = delete;

    void initToolkit() override;
    bool createControlWindow() override;
    bool registerDeviceNotification() override;
    void unregisterDeviceNotification() override;
    void postBoardArrival() override;
    void runMessageLoop() override;
    void showErrorBox(std::string_view text) override;
    [[noreturn]] void exitProcess(int exitCode) override;
    int runFirmwareDialog() override;
    void endFirmwareDialog() override;
    void postCloseToControlWindow() override;
    void scheduleUpdateCheck() override;
    void shutdownToolkit() override;

  private:
    struct Parts;
    app::CaptureApp& app_;
    base::UserFolders& folders_;
    HINSTANCE__* instance_;
    const bool watchForArrivals_;
    MediaFactory makeMedia_;
    bool comInitialised_ = false;
    void* notification_ = nullptr;
    std::unique_ptr<Parts> parts_;
};

} // namespace tavrin::win32
