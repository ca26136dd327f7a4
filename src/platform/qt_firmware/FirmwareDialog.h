// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/FirmwareDialogLogic.h"
#include "app/FirmwareDialogView.h"

#include <QDialog>

#include <memory>

namespace Ui {
class FirmwareDialog;
}

namespace tavrin::app {
struct CaptureApp;
}

namespace tavrin::qt_firmware {

// Dialog 111, "Firmware Update": a thin Qt view over app::FirmwareDialogLogic.
class FirmwareDialog : public QDialog, public app::FirmwareDialogView {
    Q_OBJECT

  public:
    FirmwareDialog(app::CaptureApp& app, QWidget* owner);
    ~FirmwareDialog() override;

    // app::FirmwareDialogView
    void setProgress(int perMille) override;
    void postWorkerFinished(int code) override;
    void showFailure(const std::string& caption) override;
    void setStartText(const std::string& text) override;
    void setButtonsEnabled(bool enabled) override;
    void endDialog(int result) override;

    // Cancel, Escape and a close request all come here.
    void reject() override;

    // The board came back needing no update (see FirmwareDialogLogic::boardReady).
    void boardReady() { logic_.boardReady(); }

    // The progress bar's position, 0 to 1000.
    int progress() const;

  private:
    std::unique_ptr<Ui::FirmwareDialog> ui_;
    app::FirmwareDialogLogic logic_;
};

// Runs the firmware dialog modally, owned by `owner`: 1 after a successful update,
// 0 when cancelled.
int firmwareDialog(app::CaptureApp& app, QWidget* owner);

} // namespace tavrin::qt_firmware
