#include "screenshot/NumberedName.h"

#include <cstdio>
#include <unistd.h>

namespace tavrin::screenshot {

std::string nextNumberedName(uint32_t& counter, std::string_view extension) {
    char name[32];
    for (;;) {
        const uint32_t n = counter++;
        std::snprintf(name, sizeof name, "%05u%.*s", n, static_cast<int>(extension.size()), extension.data());
        if (::access(name, F_OK) != 0)
            return name;
        if (counter >= 100000)
            return {};
    }
}

} // namespace tavrin::screenshot
