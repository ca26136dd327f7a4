// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/NumberedName.h"

#include "base/Os.h"

#include <cstdio>

namespace tavrin::screenshot {

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
        // Anything at all there (a dangling link, a file we may not read) takes the
        // name: the later exclusive create would fail on it anyway.
        if (!base::os::nameTaken(path))
            return name;
        if (counter >= kNumberedNameLimit)
            return {};
    }
}

} // namespace tavrin::screenshot
