// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/NumberedName.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace tavrin::screenshot {

namespace {

// A name is taken when anything at all is there, a dangling link or a file we
// may not read included: the later exclusive create would fail on it anyway.
bool nameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

std::string nextNumberedName(uint32_t& counter, std::string_view extension) {
    return nextNumberedName(counter, extension, std::string());
}

std::string nextNumberedName(uint32_t& counter, std::string_view extension, const std::string& folder) {
    std::string path;
    for (;;) {
        const uint32_t n = counter++;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%05u", n);
        std::string name = digits;
        name.append(extension);
        path.assign(folder).append(name);
        if (!nameTaken(path))
            return name;
        if (counter >= kNumberedNameLimit)
            return {};
    }
}

} // namespace tavrin::screenshot
