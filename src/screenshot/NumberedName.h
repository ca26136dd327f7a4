#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::screenshot {

// The first free name of at least five zero-padded digits and `extension`
// ("00042.png"), probing upward from `counter` in the current directory, which
// is the output folder. The counter moves past the name returned. Returns an
// empty string when probing reached 100,000 and that name exists too: an
// existing file is never handed out.
std::string nextNumberedName(uint32_t& counter, std::string_view extension);

} // namespace tavrin::screenshot
