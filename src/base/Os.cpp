// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Os.h"

namespace tavrin::base::os {

// From and to char8_t: the standard library then converts to UTF-16 on Windows and
// keeps the bytes as they are on Linux (where a name need not be valid UTF-8).
std::filesystem::path toPath(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

} // namespace tavrin::base::os
