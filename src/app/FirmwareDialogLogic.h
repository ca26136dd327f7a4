// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/FirmwareDialogView.h"
#include "base/Worker.h"
#include "device/UsbDevice.h"

#include <atomic>

namespace tavrin::app {

struct CaptureApp;

// What the firmware dialog does: "Start" runs one update on a worker thread that holds
// the application lock throughout; a failure shows "Failed!" / "Error (%d)" and turns
// "Start" into "Retry"; "Cancel" ends the dialog with 0 whenever the buttons are enabled.
// All members except the worker run on the dialog's thread.
class FirmwareDialogLogic {
  public:
    FirmwareDialogLogic(CaptureApp& app, FirmwareDialogView& view);
    ~FirmwareDialogLogic() = default; // waits for a worker that is still running
    FirmwareDialogLogic(const FirmwareDialogLogic&) = delete;
    FirmwareDialogLogic& operator=(const FirmwareDialogLogic&) = delete;

    // When the dialog is created: progress 0, "Start", both buttons enabled.
    void init();
    // "Start" or "Retry": disables both buttons and starts the worker.
    void start();
    // "Cancel", Escape or a close request. Ignored while the worker runs (the dialog
    // must outlive it); otherwise ends the dialog with 0. Returns whether it ended it.
    bool cancel();
    // The board came back open and needing nothing: ends the dialog with 1, unless
    // the worker runs (its result ends the dialog then).
    void boardReady();
    // The worker's result, handed over by the view on the dialog's thread.
    void workerFinished(int code);

    bool running() const { return running_.load(std::memory_order_acquire); }

    // The worker's one step under the lock: the current device's update if it asks for
    // firmware, else FW_NOT_REQUIRED.
    static int runUpdate(CaptureApp& app, const device::ProgressCallback& progress);

  private:
    CaptureApp& app_;
    FirmwareDialogView& view_;
    std::atomic<bool> running_{false};
    // "tavrin-firmware". Declared last: it goes first, while what it uses is there.
    base::Worker worker_;
};

} // namespace tavrin::app
