// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/UserFolders.h"

#include <string>
#include <string_view>

namespace tavrin::base {

// The freedesktop.org folders: configuration in $XDG_CONFIG_HOME (else
// ~/.config), the desktop from user-dirs.dirs (else ~/Desktop, else the home folder).
class XdgUserFolders final : public UserFolders {
  public:
    std::string configFolder() override;
    // The first of these that exists: the user-dirs.dirs desktop, ~/Desktop, the home
    // folder. Empty when none does.
    std::string desktopFolder() override;
    bool setCurrentDirectory(const std::string& path) override;

    // The XDG_DESKTOP_DIR entry of a user-dirs.dirs text with $HOME replaced by
    // `home`, without a trailing '/'. Empty when the entry is missing or malformed.
    static std::string parseDesktopDir(std::string_view userDirsText, std::string_view home);

  private:
    static std::string homeFolder();
};

} // namespace tavrin::base
