// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/KnownUserFolders.h"

#include "base/Os.h"

namespace tavrin::base {

std::string KnownUserFolders::configFolder() {
    return os::roamingAppDataFolder();
}

std::string KnownUserFolders::desktopFolder() {
    std::string desktop = os::desktopKnownFolder();
    return !desktop.empty() && os::isFolder(desktop) ? desktop : std::string();
}

bool KnownUserFolders::setCurrentDirectory(const std::string& path) {
    return os::setCurrentFolder(path);
}

} // namespace tavrin::base
