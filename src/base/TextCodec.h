// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tavrin::base {

// UTF-8 <-> UTF-16 for the settings file's text fields. Linux file names are
// bytes, not always valid UTF-8: a byte that is not part of a valid sequence is
// carried as the lone surrogate U+DC00 + byte, and turned back into that byte on
// the way out, so every path survives a round trip through the file. A lone
// surrogate outside U+DC80..U+DCFF becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

} // namespace tavrin::base
