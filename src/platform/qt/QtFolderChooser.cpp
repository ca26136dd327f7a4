// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtFolderChooser.h"

#include <QFileDialog>

namespace tavrin::qt {

std::string QtFolderChooser::chooseFolder(const std::string& title, const std::string& startFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(owner_, QString::fromStdString(title),
                                                             QString::fromStdString(startFolder));
    return chosen.toStdString(); // empty when cancelled
}

} // namespace tavrin::qt
