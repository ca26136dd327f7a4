// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/VersionFile.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tavrin::update {

namespace {

constexpr int kMaxWord = 63;

// Reads like scanf's "%63s": skips white space, then takes up to 63 other
// bytes. Bytes from `end` on count as the terminating NUL.
class WordReader {
  public:
    WordReader(const char* text, int end, int position) : text_(text), end_(end), pos_(position) {}

    bool word(std::string& out) {
        skipSpace();
        out.clear();
        while (pos_ < end_ && text_[pos_] != '\0' && !isSpace(text_[pos_]) && int(out.size()) < kMaxWord)
            out.push_back(text_[pos_++]);
        return !out.empty();
    }

  private:
    static bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    void skipSpace() {
        while (pos_ < end_ && isSpace(text_[pos_]))
            ++pos_;
    }

    const char* text_;
    int end_;
    int pos_;
};

// Control characters as the file format counts them: below 0x20 as a signed
// byte, so 0x80 and above too.
bool isControl(char c) {
    return static_cast<signed char>(c) < 0x20;
}

// Like scanf's "%i": decimal, 0x hexadecimal or 0 octal, with a sign.
// Out-of-range numbers saturate; no digits leave `version` as it was.
void readInteger(const std::string& value, int32_t& version) {
    const char* start = value.c_str();
    char* stop = nullptr;
    const long long n = std::strtoll(start, &stop, 0);
    if (stop == start)
        return;
    if (n > std::numeric_limits<int32_t>::max())
        version = std::numeric_limits<int32_t>::max();
    else if (n < std::numeric_limits<int32_t>::min())
        version = std::numeric_limits<int32_t>::min();
    else
        version = static_cast<int32_t>(n);
}

} // namespace

VersionFile readVersionFile(const char* text, int count) {
    VersionFile result;
    if (count < 1)
        return result;
    enum : unsigned { kMarker = 1, kEof = 2, kVer = 4, kUrl = 8 };
    unsigned found = 0;
    int position = 0;
    std::string key, value;
    for (;;) {
        WordReader reader(text, count, position);
        if (reader.word(key))
            reader.word(value);
        else
            value.clear();

        if (key == "tavrin") {
            found |= kMarker;
        } else if (found != 0) {
            if (key == "eof") {
                found |= kEof;
                break;
            }
            if (key == "ver") {
                readInteger(value, result.version);
                found |= kVer;
            } else if (key == "url") {
                found |= kUrl;
                result.url = value;
            }
        }

        // On to the start of the next line.
        while (position < count && !isControl(text[position]))
            ++position;
        while (position < count && isControl(text[position]))
            ++position;
        if (position >= count)
            break;
    }
    result.valid = found == (kMarker | kEof | kVer | kUrl);
    if (!result.valid) {
        result.version = 0;
        result.url.clear();
    }
    return result;
}

bool isWebAddress(std::string_view url) {
    auto startsWith = [url](std::string_view prefix) {
        if (url.size() <= prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            char c = url[i];
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
            if (c != prefix[i])
                return false;
        }
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

} // namespace tavrin::update
