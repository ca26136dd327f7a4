// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/UserFolders.h"

#include <string>

namespace tavrin::base {

// The Windows folders: configuration in the roaming application data, the desktop
// from the Known Folders (both as the shell names them, without a trailing '\').
// Elsewhere there are no Known Folders: both answer empty.
class KnownUserFolders final : public UserFolders {
  public:
    std::string configFolder() override;
    // Empty when the desktop folder does not exist.
    std::string desktopFolder() override;
    bool setCurrentDirectory(const std::string& path) override;
};

} // namespace tavrin::base
