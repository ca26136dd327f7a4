// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/ListText.h"

#include <algorithm>

namespace tavrin::record {

namespace {

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string clipUnits(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::size_t cost = length == 4 ? 2 : 1; // four-byte characters are surrogate pairs
        if (used + cost > units || i + length > text.size())
            break;
        used += cost;
        i += length;
    }
    return std::string(text.substr(0, i));
}

std::string chosenItem(const std::vector<std::string>& items, int index) {
    return index >= 0 && index < static_cast<int>(items.size()) ? clipUnits(items[index], 127)
                                                                : std::string();
}

void sortListItems(std::vector<std::string>& items) {
    std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return fold(x) < fold(y); });
    });
}

int findPrefix(const std::vector<std::string>& items, std::string_view prefix) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& item = items[i];
        if (item.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), item.begin(),
                                                       [](char a, char b) { return fold(a) == fold(b); }))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace tavrin::record
