// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "screenshot/FolderChooser.h"

#include <functional>

struct HWND__;

namespace tavrin::win32 {

// The system's folder picker (IFileDialog with FOS_PICKFOLDERS), modal, owned by
// the window `owner` gives at the time it is shown.
class Win32FolderChooser final : public screenshot::FolderChooser {
  public:
    explicit Win32FolderChooser(std::function<HWND__*()> owner) : owner_(std::move(owner)) {}
    std::string chooseFolder(const std::string& title, const std::string& startFolder) override;

  private:
    std::function<HWND__*()> owner_;
};

} // namespace tavrin::win32
