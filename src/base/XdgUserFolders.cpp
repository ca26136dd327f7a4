// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/XdgUserFolders.h"

#include "base/Os.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace tavrin::base {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool isDirectory(const std::string& path) {
    return !path.empty() && os::isFolder(path);
}

} // namespace

std::string XdgUserFolders::homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return withoutTrailingSlashes(home);
    // No usable $HOME: ask the password database.
    if (std::string home = os::homeFromUserDatabase(); home.starts_with('/'))
        return withoutTrailingSlashes(std::move(home));
    return {};
}

std::string XdgUserFolders::configFolder() {
    // XDG rules: a relative value is ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return withoutTrailingSlashes(config);
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

std::string XdgUserFolders::desktopFolder() {
    const std::string home = homeFolder();
    const std::string config = configFolder();
    if (!config.empty()) {
        std::ifstream in(os::toPath(config + "/user-dirs.dirs"));
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            std::string desktop = parseDesktopDir(text.str(), home);
            if (isDirectory(desktop))
                return desktop;
        }
    }
    if (home.empty())
        return {};
    std::string desktop = home + "/Desktop";
    if (isDirectory(desktop))
        return desktop;
    // No desktop folder (a server, a minimal session): the home folder, so that files
    // never land in whatever folder the program happened to be started from.
    return isDirectory(home) ? home : std::string();
}

bool XdgUserFolders::setCurrentDirectory(const std::string& path) {
    return os::setCurrentFolder(path);
}

std::string XdgUserFolders::parseDesktopDir(std::string_view text, std::string_view home) {
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
    std::string result;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);

        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.starts_with(kKey))
            continue;
        line.remove_prefix(kKey.size());
        if (line.size() < 2 || line.front() != '"')
            continue;
        line.remove_prefix(1);

        // Shell-style quoted value: backslash escapes the next character.
        std::string value;
        bool closed = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                value.push_back(line[++i]);
            } else if (line[i] == '"') {
                closed = true;
                break;
            } else {
                value.push_back(line[i]);
            }
        }
        if (!closed)
            continue;
        // Only "$HOME/..." and absolute paths are allowed by the format.
        if (value == "$HOME" || value.starts_with("$HOME/")) {
            if (home.empty())
                continue;
            value = std::string(home) + value.substr(5);
        } else if (!value.starts_with('/')) {
            continue;
        }
        result = withoutTrailingSlashes(value); // the last valid entry wins, as in a shell
    }
    return result;
}

} // namespace tavrin::base
