// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::screenshot {

// A dialog that lets the user pick a folder, owned by the control window.
class FolderChooser {
  public:
    virtual ~FolderChooser() = default;
    // Shows the chooser titled `title`, starting at `startFolder` (may be empty).
    // Returns the chosen folder's path, or an empty string when the user
    // cancelled or the dialog failed. Called on the control window's thread.
    virtual std::string chooseFolder(const std::string& title, const std::string& startFolder) = 0;
};

} // namespace tavrin::screenshot
