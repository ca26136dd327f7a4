// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/XdgUserFolders.h"
#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using tavrin::base::XdgUserFolders;
using tavrin::testing::TempDir;

namespace {

void setEnv(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
    ::_putenv_s(name, value ? value->c_str() : ""); // "" removes it
#else
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
#endif
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setEnv(name, value);
    }
    ~ScopedEnv() { setEnv(name_, old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

// Where new files go at first: the named desktop, ~/Desktop, then the home folder;
// never the working directory, whatever is missing.
TEST(XdgUserFolders, DesktopFolderFallsBackToDesktopThenHome) {
#ifdef _WIN32
    GTEST_SKIP() << "XDG folders are Linux's; Windows has the Known Folders (KnownUserFolders)";
#endif
    struct Case {
        const char* what;
        bool namedDesktopExists;
        bool plainDesktopExists;
        std::string expected; // relative to the home folder
    };
    const Case cases[] = {
        {"user-dirs names an existing folder", true, true, "/Arbeitsfläche"},
        {"the named folder is missing", false, true, "/Desktop"},
        {"no desktop folder at all", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir home;
        const std::string homePath = home.path().string();
        std::filesystem::create_directories(home.path() / ".config");
        home.write(".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Arbeitsfläche\"\n");
        if (c.namedDesktopExists)
            std::filesystem::create_directory(home.path() / "Arbeitsfläche");
        if (c.plainDesktopExists)
            std::filesystem::create_directory(home.path() / "Desktop");
        ScopedEnv homeEnv("HOME", homePath);
        ScopedEnv configEnv("XDG_CONFIG_HOME", homePath + "/.config");

        XdgUserFolders folders;
        EXPECT_EQ(folders.desktopFolder(), homePath + c.expected);
    }
}
