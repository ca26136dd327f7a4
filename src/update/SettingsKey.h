// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavrin::base {
class UserFolders;
}

namespace tavrin::update {

// The per-user values of the update check ("DisableUpdateCheck", "LastChecked",
// "LastVersionSeen"): unsigned 32-bit numbers kept by name in a small text file
// in the program's config folder. A missing or unreadable value reads as 0.
// Every write replaces the file atomically (temporary file, then rename), so
// a crash leaves either the old values or the new ones.
class SettingsKey {
  public:
    static constexpr const char* kFileName = "update-check.conf";

    // "Tavrin Capture/" in the user's config folder, beside the settings file,
    // ending in '/'; empty when the config folder is unknown.
    static std::string folderIn(base::UserFolders& folders);

    // Opens the key kept in `folder` (a path ending in '/'), creating the folder
    // and its parents when missing. `created` tells whether the key is new (no
    // file yet). Null when the folder cannot be made or the file not read.
    static std::unique_ptr<SettingsKey> open(const std::string& folder, bool& created);

    uint32_t readDword(const std::string& name) const;
    // False when the file could not be replaced; the old file then stays.
    bool writeDword(const std::string& name, uint32_t value);

    const std::string& path() const { return path_; }

  private:
    explicit SettingsKey(std::string folder);

    std::string folder_;
    std::string path_;
};

} // namespace tavrin::update
