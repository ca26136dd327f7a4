// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/QtCompressorDialogHost.h"

#include "platform/qt_record/CodecOptionsDialog.h"

#include <QMessageBox>
#include <QWidget>

namespace tavrin::qt_record {

bool QtCompressorDialogHost::configure(void* owner, const std::string& title,
                                       std::vector<record::CodecOption>& options) {
    CodecOptionsDialog dialog(static_cast<QWidget*>(owner), title, options);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options = dialog.values();
    return true;
}

void QtCompressorDialogHost::about(void* owner, const std::string& title, const std::string& text) {
    QMessageBox::about(static_cast<QWidget*>(owner), QString::fromStdString(title),
                       QString::fromStdString(text));
}

} // namespace tavrin::qt_record
