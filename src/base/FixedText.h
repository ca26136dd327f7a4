// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/TextCodec.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tavrin::base {

// A text field of the settings record: N UTF-16 units, NUL-terminated inside the
// width. The units are kept exactly as read, so an untouched field is written back
// byte for byte. A field read from a file may lack its NUL; reading stops at the
// width then.
template <std::size_t N> struct FixedText {
    static constexpr std::size_t kUnits = N;

    std::array<char16_t, N> units{};

    std::u16string_view view() const {
        const auto end = std::find(units.begin(), units.end(), u'\0');
        return {units.data(), static_cast<std::size_t>(end - units.begin())};
    }
    std::string utf8() const { return utf16ToUtf8(view()); }
    bool empty() const { return units[0] == u'\0'; }
    void clear() { units.fill(u'\0'); }

    // False, leaving the field as it was, when the text and its NUL do not fit.
    bool assign(std::u16string_view text) {
        if (text.size() >= N || text.find(u'\0') != std::u16string_view::npos)
            return false;
        clear();
        std::copy(text.begin(), text.end(), units.begin());
        return true;
    }
    bool assign(std::string_view utf8Text) { return assign(std::u16string_view(utf8ToUtf16(utf8Text))); }

    friend bool operator==(const FixedText&, const FixedText&) = default;
};

} // namespace tavrin::base
