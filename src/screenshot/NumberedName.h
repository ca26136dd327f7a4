// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::screenshot {

// Probing stops once the counter reaches this many names.
constexpr uint32_t kNumberedNameLimit = 100000;

// The first free name of at least five zero-padded digits and `extension`
// ("00042.png"), probing upward from `counter` in the current directory, which
// is the output folder. The counter moves past the name returned. Returns an
// empty string when probing reached 100,000 and that name exists too: an
// existing file is never handed out, and the next call goes on from there.
std::string nextNumberedName(uint32_t& counter, std::string_view extension);

// The same, probing in `folder` (a path ending in '/', or empty for the
// current directory). The name returned has no folder in front.
std::string nextNumberedName(uint32_t& counter, std::string_view extension, const std::string& folder);

} // namespace tavrin::screenshot
