// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::app {

// The firmware dialog as its logic sees it: a progress bar (0 to 1000), the "Start"
// button, the "Cancel" button and the "Failed!" box. The toolkit's dialog implements it.
class FirmwareDialogView {
  public:
    virtual ~FirmwareDialogView() = default;

    // --- called on the worker thread, which holds the application lock: both only
    // hand the value over to the dialog's thread and never wait for it, because that
    // thread may itself be waiting for the lock ---
    virtual void setProgress(int perMille) = 0;
    // The worker is done; the dialog's thread then calls FirmwareDialogLogic::workerFinished.
    virtual void postWorkerFinished(int code) = 0;

    // --- called on the dialog's thread ---
    // The modal error box: text "Failed!", the given caption, an error icon, an OK button.
    virtual void showFailure(const std::string& caption) = 0;
    virtual void setStartText(const std::string& text) = 0;
    virtual void setButtonsEnabled(bool enabled) = 0;
    // Ends the modal dialog: 1 after a successful update, 0 on Cancel.
    virtual void endDialog(int result) = 0;
};

} // namespace tavrin::app
