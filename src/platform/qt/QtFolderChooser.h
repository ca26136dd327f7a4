// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "screenshot/FolderChooser.h"

class QWidget;

namespace tavrin::qt {

// The desktop's folder chooser (QFileDialog in directory mode), owned by a window.
class QtFolderChooser final : public screenshot::FolderChooser {
  public:
    explicit QtFolderChooser(QWidget* owner) : owner_(owner) {}
    std::string chooseFolder(const std::string& title, const std::string& startFolder) override;

  private:
    QWidget* owner_;
};

} // namespace tavrin::qt
