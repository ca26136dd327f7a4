// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tavrin::win32 {

// The program's UTF-8 text as the wide (UTF-16) calls take it, and back. Text that
// is not UTF-8 has its bad bytes replaced (U+FFFD), so nothing is dropped silently.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

} // namespace tavrin::win32
