// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Os.h"
#include "base/UserFolders.h"
#include "fakes/TempDir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::testing {

// User folders (UTF-8 paths) inside a TempDir. The current directory is only
// recorded, never changed, so tests do not disturb each other.
class TempFolders : public base::UserFolders {
  public:
    TempFolders()
        : root(base::os::fromPath(dir_.path())), config(root + "/config"), desktop(root + "/Desktop") {
        std::filesystem::create_directories(base::os::toPath(config));
        std::filesystem::create_directories(base::os::toPath(desktop));
    }

    std::string configFolder() override { return config; }
    std::string desktopFolder() override { return desktop; }
    bool setCurrentDirectory(const std::string& path) override {
        std::lock_guard lk(mutex_);
        chdirCalls.push_back(path);
        std::error_code ec;
        if (path.empty() || !std::filesystem::is_directory(base::os::toPath(path), ec))
            return false;
        currentDirectory = path;
        return true;
    }

    std::string settingsFolder() const { return config + "/Tavrin Capture"; }
    std::string settingsFile() const { return settingsFolder() + "/tavrin_capture.cfg"; }
    bool settingsFileExists() const { return std::filesystem::exists(base::os::toPath(settingsFile())); }

    void writeSettingsFile(const std::vector<uint8_t>& bytes) const {
        std::filesystem::create_directories(base::os::toPath(settingsFolder()));
        std::ofstream out(base::os::toPath(settingsFile()), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> readSettingsFile() const {
        std::ifstream in(base::os::toPath(settingsFile()), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    TempDir dir_; // first: the folders below are made in it

  public:
    std::string root;
    std::string config;  // configFolder() answers this; tests may change it
    std::string desktop; // desktopFolder() answers this; tests may change it
    std::string currentDirectory;
    std::vector<std::string> chdirCalls;

  private:
    std::mutex mutex_;
};

} // namespace tavrin::testing
