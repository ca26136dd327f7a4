// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/AppPlatform.h"
#include "app/CaptureApp.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::testing {

// Records every platform step in order. Each step can be given a hook that runs
// inside it, to look at the application's state at that moment.
class RecordingPlatform : public app::AppPlatform {
  public:
    RecordingPlatform(app::CaptureApp& app, device::FrameSink& window) : app_(app), window_(window) {}

    void initToolkit() override { record("initToolkit", onInitToolkit); }
    bool createControlWindow() override {
        record("createControlWindow", onCreateControlWindow);
        if (controlWindowCreated)
            app_.capture.controlWindow.set(&window_);
        return controlWindowCreated;
    }
    bool registerDeviceNotification() override {
        record("registerDeviceNotification", nullptr);
        return notificationRegistered;
    }
    void unregisterDeviceNotification() override {
        record("unregisterDeviceNotification", onUnregisterDeviceNotification);
    }
    void postBoardArrival() override {}
    void runMessageLoop() override {
        record("runMessageLoop", onMessageLoop);
        // The control window is destroyed at the end of the loop.
        app_.capture.controlWindow.set(nullptr);
    }
    void showErrorBox(std::string_view text) override { record("errorBox:" + std::string(text), nullptr); }
    void exitProcess(int exitCode) override { record("exitProcess:" + std::to_string(exitCode), nullptr); }
    int runFirmwareDialog() override {
        record("firmwareDialog", onFirmwareDialog);
        return firmwareDialogResult;
    }
    void endFirmwareDialog() override { record("endFirmwareDialog", nullptr); }
    void postCloseToControlWindow() override {
        record("postClose", nullptr);
        closePosted = true;
    }
    void scheduleUpdateCheck() override { record("scheduleUpdateCheck", nullptr); }
    void shutdownToolkit() override { record("shutdownToolkit", onShutdownToolkit); }

    std::vector<std::string> steps() const {
        std::lock_guard lk(mutex_);
        return steps_;
    }

    // What the steps answer.
    bool controlWindowCreated = true;
    bool notificationRegistered = true;
    int firmwareDialogResult = 1;
    bool closePosted = false;

    // Hooks run inside the step of the same name.
    std::function<void()> onInitToolkit;
    std::function<void()> onCreateControlWindow;
    std::function<void()> onUnregisterDeviceNotification;
    std::function<void()> onMessageLoop;
    std::function<void()> onFirmwareDialog;
    std::function<void()> onShutdownToolkit;

  private:
    void record(std::string step, const std::function<void()>& hook) {
        {
            std::lock_guard lk(mutex_);
            steps_.push_back(std::move(step));
        }
        if (hook)
            hook();
    }

    app::CaptureApp& app_;
    device::FrameSink& window_;
    mutable std::mutex mutex_;
    std::vector<std::string> steps_;
};

} // namespace tavrin::testing
