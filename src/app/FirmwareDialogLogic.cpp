// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FirmwareDialogLogic.h"

#include "app/CaptureApp.h"
#include "device/FirmwareImage.h"

#include <cstdio>
#include <mutex>

namespace tavrin::app {

FirmwareDialogLogic::FirmwareDialogLogic(CaptureApp& app, FirmwareDialogView& view)
    : app_(app), view_(view) {}

FirmwareDialogLogic::~FirmwareDialogLogic() {
    if (worker_.joinable())
        worker_.join();
}

void FirmwareDialogLogic::init() {
    view_.setProgress(0);
    view_.setStartText("Start");
    view_.setButtonsEnabled(true);
}

void FirmwareDialogLogic::start() {
    if (running())
        return;
    view_.setButtonsEnabled(false);
    if (worker_.joinable())
        worker_.join(); // the previous attempt, which has already posted its result
    running_.store(true, std::memory_order_release);
    worker_ = std::thread([this] {
        const int code = runUpdate(app_, [this](int perMille) { view_.setProgress(perMille); });
        view_.postWorkerFinished(code);
    });
}

bool FirmwareDialogLogic::cancel() {
    if (running())
        return false;
    view_.endDialog(0);
    return true;
}

void FirmwareDialogLogic::boardReady() {
    if (!running())
        view_.endDialog(1);
}

void FirmwareDialogLogic::workerFinished(int code) {
    if (worker_.joinable())
        worker_.join();
    running_.store(false, std::memory_order_release);
    if (code == device::FW_OK) {
        view_.endDialog(1);
        return;
    }
    char caption[32];
    std::snprintf(caption, sizeof caption, "Error (%d)", code);
    view_.showFailure(caption);
    view_.setProgress(0);
    view_.setStartText("Retry");
    view_.setButtonsEnabled(true);
}

int FirmwareDialogLogic::runUpdate(CaptureApp& app, const device::ProgressCallback& progress) {
    std::lock_guard lock(app.appLock);
    device::UsbDevice* current = app.currentDevice.load();
    if (!current || current->state() != device::DEVICE_FIRMWARE_REQUIRED)
        return device::FW_NOT_REQUIRED;
    return current->updateFirmware(progress);
}

} // namespace tavrin::app
