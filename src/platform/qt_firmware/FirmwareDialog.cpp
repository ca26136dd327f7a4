// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_firmware/FirmwareDialog.h"

#include "ui_firmwareDialog.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace tavrin::qt_firmware {

FirmwareDialog::FirmwareDialog(app::CaptureApp& app, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::FirmwareDialog>()), logic_(app, *this) {
    ui_->setupUi(this);
    // A title bar without the system menu and its close command: the dialog ends
    // through its buttons only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    connect(ui_->startButton, &QPushButton::clicked, this, [this] { logic_.start(); });
    connect(ui_->cancelButton, &QPushButton::clicked, this, &FirmwareDialog::reject);
    logic_.init();
    ui_->startButton->setFocus();
}

FirmwareDialog::~FirmwareDialog() = default;

void FirmwareDialog::setProgress(int perMille) {
    if (QThread::currentThread() == thread()) {
        ui_->progressBar->setValue(perMille);
        return;
    }
    // Posted, never waited for: the dialog's thread may be waiting for the lock the
    // worker holds.
    QMetaObject::invokeMethod(
        this, [this, perMille] { ui_->progressBar->setValue(perMille); }, Qt::QueuedConnection);
}

void FirmwareDialog::postWorkerFinished(int code) {
    QMetaObject::invokeMethod(
        this, [this, code] { logic_.workerFinished(code); }, Qt::QueuedConnection);
}

void FirmwareDialog::showFailure(const std::string& caption) {
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QStringLiteral("Failed!"),
                    QMessageBox::Ok, this);
    box.exec();
}

void FirmwareDialog::setStartText(const std::string& text) {
    ui_->startButton->setText(QString::fromStdString(text));
}

void FirmwareDialog::setButtonsEnabled(bool enabled) {
    ui_->startButton->setEnabled(enabled);
    ui_->cancelButton->setEnabled(enabled);
}

void FirmwareDialog::endDialog(int result) {
    done(result);
}

void FirmwareDialog::reject() {
    logic_.cancel();
}

int FirmwareDialog::progress() const {
    return ui_->progressBar->value();
}

int firmwareDialog(app::CaptureApp& app, QWidget* owner) {
    FirmwareDialog dialog(app, owner);
    return dialog.exec();
}

} // namespace tavrin::qt_firmware
