// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/AppPlatform.h"
#include "main/CommandLine.h"

#include <memory>

namespace tavrin::base {
class UserFolders;
}

namespace tavrin::app {
struct CaptureApp;
} // namespace tavrin::app

namespace tavrin::program {

// The window-system steps of start-up and shutdown on Qt: the application
// object, the control window with everything it drives, the libusb arrival
// watcher, the message loop and the program's message boxes.
class QtAppPlatform final : public app::AppPlatform {
  public:
    // Qt sees `argc`/`argv` (its own options) when given, else only the program's name.
    QtAppPlatform(app::CaptureApp& app, base::UserFolders& folders, bool watchForArrivals,
                  const ProgramIdentity& identity = kProgramIdentity, int* argc = nullptr,
                  char** argv = nullptr);
    ~QtAppPlatform() override;
    QtAppPlatform(const QtAppPlatform&) = delete;
    QtAppPlatform& operator=(const QtAppPlatform&) = delete;

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
    const bool watchForArrivals_;
    const ProgramIdentity identity_;
    int* argc_;
    char** argv_;
    std::unique_ptr<Parts> parts_;
};

} // namespace tavrin::program
