// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::record {

// The rules of the settings dialogs' drop-down lists, kept out of the toolkit.

// A prefix of `text` of at most `units` UTF-16 code units, never cutting a character.
std::string clipUnits(std::string_view text, std::size_t units);
// The item at `index` as the settings keep a choice (at most 127 UTF-16 units); empty for none.
std::string chosenItem(const std::vector<std::string>& items, int index);
// Sorted as a sorted drop-down list sorts: letters without regard to case.
void sortListItems(std::vector<std::string>& items);
// The first item, from the top, that begins with `prefix` without regard to case; -1 if none.
int findPrefix(const std::vector<std::string>& items, std::string_view prefix);

} // namespace tavrin::record
