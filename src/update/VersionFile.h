// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::update {

// What a version file announces.
struct VersionFile {
    bool valid = false; // the "tavrin" marker, then "eof", "ver" and "url" were all seen
    int32_t version = 0;
    std::string url; // at most 63 characters
};

// Reads the first `count` bytes of `text` as a version file: lines of a key
// and a value ("%63s %63s"), a section started by "tavrin" and ended by "eof".
// Bytes from the first NUL on are not read.
VersionFile readVersionFile(const char* text, int count);

// True for an http:// or https:// address (scheme in any case) with something after it.
bool isWebAddress(std::string_view url);

} // namespace tavrin::update
