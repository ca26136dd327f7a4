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
// "LastVersionSeen"): unsigned 32-bit numbers kept by name. A missing or
// unreadable value reads as 0. Where the system has a registry they are REG_DWORD
// values of a key under HKEY_CURRENT_USER; elsewhere they live in a small text
// file in the program's config folder, and every write replaces the file
// atomically (temporary file, then rename), so a crash leaves either the old
// values or the new ones.
class SettingsKey {
  public:
    static constexpr const char* kFileName = "update-check.conf";
    // A place beginning with this names a registry key, ending in '\'.
    static constexpr const char* kUserRegistryRoot = "HKEY_CURRENT_USER\\";
    static constexpr const char* kRegistryPlace = "HKEY_CURRENT_USER\\Software\\TavrinCapture\\";

    // "Tavrin Capture/" in the user's config folder, beside the settings file,
    // ending in '/'; empty when the config folder is unknown.
    static std::string folderIn(base::UserFolders& folders);
    // Where this system keeps the values: kRegistryPlace where there is a
    // registry, else folderIn(folders).
    static std::string placeIn(base::UserFolders& folders);

    // Opens the key kept in `place`: a registry key (kUserRegistryRoot...), made
    // when missing, or a folder (a path ending in '/'), made with its parents
    // when missing. `created` tells whether the key is new (no key or file yet).
    // Null when the key or folder cannot be made or the file not read.
    static std::unique_ptr<SettingsKey> open(const std::string& place, bool& created);

    uint32_t readDword(const std::string& name) const;
    // False when the file could not be replaced; the old file then stays.
    bool writeDword(const std::string& name, uint32_t value);

    // The file, or the registry key as `place` named it.
    const std::string& path() const { return path_; }

  private:
    SettingsKey(std::string folder, std::string registryKey);

    std::string folder_;
    std::string path_;
    // The key's path below HKEY_CURRENT_USER; empty for a file.
    std::string registryKey_;
};

} // namespace tavrin::update
