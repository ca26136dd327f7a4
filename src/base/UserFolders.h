// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::base {

// The per-user folders the settings need, and the process's current directory.
// The program uses XdgUserFolders; tests use temporary folders.
class UserFolders {
  public:
    virtual ~UserFolders() = default;
    // The folder that holds per-user configuration ($XDG_CONFIG_HOME, else
    // ~/.config), without a trailing '/'. Empty when it cannot be determined.
    virtual std::string configFolder() = 0;
    // The user's desktop folder, without a trailing '/'. Empty when unknown.
    virtual std::string desktopFolder() = 0;
    // Makes `path` the current directory; false (and nothing changed) on failure.
    virtual bool setCurrentDirectory(const std::string& path) = 0;
};

} // namespace tavrin::base
