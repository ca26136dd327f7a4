// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FirmwareDialogLogic.h"

#include "app/CaptureApp.h"
#include "device/FirmwareImage.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace tavrin::app {

namespace {
// A worker that posted its result has at most its last lines left to run.
constexpr auto kJoinLimit = std::chrono::milliseconds(2000);
} // namespace

FirmwareDialogLogic::FirmwareDialogLogic(CaptureApp& app, FirmwareDialogView& view)
    : app_(app), view_(view) {}

void FirmwareDialogLogic::init() {
    view_.setProgress(0);
    view_.setStartText("Start");
    view_.setButtonsEnabled(true);
}

void FirmwareDialogLogic::start() {
    if (running())
        return;
    view_.setButtonsEnabled(false);
    // The previous attempt has posted its result, so it has ended or is about to.
    worker_.join(kJoinLimit);
    running_.store(true, std::memory_order_release);
    const bool started = worker_.start("tavrin-firmware", [this](const base::WorkerControl&) {
        const int code = runUpdate(app_, [this](int perMille) { view_.setProgress(perMille); });
        view_.postWorkerFinished(code);
    });
    if (!started) {
        // Nothing ran: the user may try again or cancel.
        running_.store(false, std::memory_order_release);
        view_.setButtonsEnabled(true);
    }
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
    worker_.join(kJoinLimit);
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
    std::lock_guard lock(app.capture.appLock);
    device::UsbDevice* current = app.capture.currentDevice.load();
    if (!current || current->state() != device::DEVICE_FIRMWARE_REQUIRED)
        return device::FW_NOT_REQUIRED;
    return current->updateFirmware(progress);
}

} // namespace tavrin::app
