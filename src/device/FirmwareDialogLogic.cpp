// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FirmwareDialogLogic.h"

#include "app/CaptureApp.h"
#include "device/FirmwareImage.h"

#include <cstdio>
#include <mutex>

namespace tavrin::device {

FirmwareDialogLogic::FirmwareDialogLogic(app::CaptureApp& app, FirmwareDialogView& view)
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
    if (code == FW_OK) {
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

int FirmwareDialogLogic::runUpdate(app::CaptureApp& app, const ProgressCallback& progress) {
    std::lock_guard lock(app.appLock);
    UsbDevice* device = app.currentDevice.load();
    if (!device || device->state() != DEVICE_FIRMWARE_REQUIRED)
        return FW_NOT_REQUIRED;
    return device->updateFirmware(progress);
}

} // namespace tavrin::device
