// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/SettingsKey.h"

#include "base/FileWrite.h"
#include "base/Os.h"
#include "base/UserFolders.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::update {

namespace {

using Entries = std::vector<std::pair<std::string, uint32_t>>;

bool makeFolders(const std::string& folder) {
    // Each prefix ending in '/' is one level; existing levels are fine.
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        if (base::os::makeFolder(level) != 0 && errno != EEXIST)
            return false;
    }
    return base::os::isFolder(folder);
}

// Returns 0, or the errno of the failure (ENOENT: no file).
int readFile(const std::string& path, std::string& text) {
    const int fd = base::os::openForReading(path);
    if (fd < 0)
        return errno;
    char buffer[4096];
    text.clear();
    for (;;) {
        const long long n = base::os::readFile(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            base::os::closeFile(fd);
            return error;
        }
        text.append(buffer, std::size_t(n));
    }
    base::os::closeFile(fd);
    return 0;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Lines "Name=value"; comments (#) and anything unreadable are skipped, so a
// damaged entry reads as missing.
Entries parse(const std::string& text) {
    Entries entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        const std::string name = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (name.empty() || value.empty() || value[0] == '-')
            continue;
        char* stop = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(value.c_str(), &stop, 0);
        if (errno != 0 || *stop != '\0' || n > 0xFFFFFFFFull)
            continue;
        bool replaced = false;
        for (auto& entry : entries)
            if (entry.first == name) {
                entry.second = uint32_t(n);
                replaced = true;
            }
        if (!replaced)
            entries.emplace_back(name, uint32_t(n));
    }
    return entries;
}

} // namespace

std::string SettingsKey::folderIn(base::UserFolders& folders) {
    const std::string config = folders.configFolder();
    return config.empty() ? std::string() : config + "/Tavrin Capture/";
}

std::string SettingsKey::placeIn(base::UserFolders& folders) {
    return base::os::hasUserRegistry() ? std::string(kRegistryPlace) : folderIn(folders);
}

SettingsKey::SettingsKey(std::string folder, std::string registryKey)
    : folder_(std::move(folder)), path_(folder_ + kFileName), registryKey_(std::move(registryKey)) {}

std::unique_ptr<SettingsKey> SettingsKey::open(const std::string& place, bool& created) {
    created = false;
    const std::string_view root = kUserRegistryRoot;
    if (place.starts_with(root)) {
        // The registry's own path, without the root and the trailing separator.
        std::string registryKey = place.substr(root.size());
        if (registryKey.empty() || registryKey.back() != '\\')
            return nullptr;
        registryKey.pop_back();
        if (!base::os::openUserKey(registryKey, created))
            return nullptr;
        std::unique_ptr<SettingsKey> key(new SettingsKey({}, std::move(registryKey)));
        key->path_ = place;
        return key;
    }
    const std::string& folder = place;
    if (folder.empty() || folder.back() != '/' || !makeFolders(folder))
        return nullptr;
    std::unique_ptr<SettingsKey> key(new SettingsKey(folder, {}));
    std::string text;
    const int error = readFile(key->path_, text);
    if (error == ENOENT)
        created = true;
    else if (error != 0)
        return nullptr;
    return key;
}

uint32_t SettingsKey::readDword(const std::string& name) const {
    if (!registryKey_.empty()) {
        uint32_t value = 0;
        return base::os::readUserDword(registryKey_, name, value) ? value : 0;
    }
    std::string text;
    if (readFile(path_, text) != 0)
        return 0;
    for (const auto& [entryName, value] : parse(text))
        if (entryName == name)
            return value;
    return 0;
}

bool SettingsKey::writeDword(const std::string& name, uint32_t value) {
    if (!registryKey_.empty())
        return base::os::writeUserDword(registryKey_, name, value);
    std::string text;
    Entries entries;
    if (readFile(path_, text) == 0)
        entries = parse(text);
    bool replaced = false;
    for (auto& entry : entries)
        if (entry.first == name) {
            entry.second = value;
            replaced = true;
        }
    if (!replaced)
        entries.emplace_back(name, value);

    std::string out = "# Tavrin Capture: update check values (unsigned 32-bit numbers)\n";
    for (const auto& [entryName, entryValue] : entries)
        out += entryName + "=" + std::to_string(entryValue) + "\n";

    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(out.data()), out.size());
    return base::replaceFile(path_, {bytes});
}

} // namespace tavrin::update
