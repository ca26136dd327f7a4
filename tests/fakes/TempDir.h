// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Os.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace tavrin::testing {

// The tests' one temporary folder: a fresh folder under the system's temporary
// folder, removed with everything in it (a mount on it must be gone by then).
class TempDir {
  public:
    TempDir() : path_(make()) {}
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as the program keeps it: UTF-8, with a trailing '/'.
    std::string folder() const { return base::os::fromPath(path_) + "/"; }

    void write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

  private:
    // Made by this call, not found (mkdtemp does that, but Windows lacks it).
    static std::filesystem::path make() {
        static std::mt19937 random{std::random_device{}()};
        const std::filesystem::path temp = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path path = temp / ("tavrin-test." + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(path, ec))
                return path;
        }
        throw std::runtime_error("cannot make a temporary folder");
    }

    std::filesystem::path path_;
};

// Restores the current directory when it goes out of scope.
class CurrentDirGuard {
  public:
    CurrentDirGuard() : saved_(std::filesystem::current_path()) {}
    ~CurrentDirGuard() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }

  private:
    std::filesystem::path saved_;
};

} // namespace tavrin::testing
