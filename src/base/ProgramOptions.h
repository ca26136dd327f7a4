// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/FileWrite.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::base {

class UserFolders;

// The text of "options.conf": UTF-8, one `key=value` a line. Lines that are not
// of that form (comments, blank lines) and keys nobody reads are kept as they
// were, in their place, so a newer or older program's options survive a save.
class OptionsText {
  public:
    static OptionsText parse(std::string_view text);
    // The value of the last line with `key`, spaces around it removed.
    std::optional<std::string_view> value(std::string_view key) const;
    // Replaces the first line with `key` (dropping any later ones) or appends one.
    void set(std::string_view key, std::string_view value);
    std::string text() const;

  private:
    struct Line {
        std::string key; // empty: not a key=value line, kept verbatim in `value`
        std::string value;
    };
    std::vector<Line> lines_;
};

// Typed reading of one key: a value that is not of the key's kind (or outside its
// range) gives `fallback` and one warning line naming the key and the text found.
// A missing key gives `fallback` silently.
bool readFlag(const OptionsText& text, std::string_view key, bool fallback);
int32_t readInteger(const OptionsText& text, std::string_view key, int32_t fallback, int32_t lowest,
                    int32_t highest);
// One of `choices` (their index), or `fallback` as readFlag treats a bad value.
std::size_t readChoice(const OptionsText& text, std::string_view key,
                       const std::vector<std::string_view>& choices, std::size_t fallback);

enum class Arrangement : uint8_t { Stacked, SideBySide };

// How the picture windows lay out what they show. The defaults are the plain
// picture: both screens stacked, top first, no gap, no turn, any scale.
struct PictureOptions {
    Arrangement arrangement = Arrangement::Stacked; // "arrangement": stacked | side-by-side
    int32_t gap = 0;           // "gap": console pixels of black between the screens, 0 to kMaxGap
    bool swap = false;         // "swap": the bottom screen first (above, or left)
    int32_t rotation = 0;      // "rotation": clockwise, 0, 90, 180 or 270
    bool integerScale = false; // "integer_scale": whole multiples of the picture only

    static constexpr int32_t kMaxGap = 256;
    friend bool operator==(const PictureOptions&, const PictureOptions&) = default;
};

// The program's own options, beside the settings record (which keeps its fixed
// form). Each part of the program owns its keys; main thread only.
struct ProgramOptions {
    bool camera = true; // "camera": publish the picture as a camera for other programs
    // "listen": play the sound input through the speakers. Off at first: with a
    // microphone as the input it would echo.
    bool listen = false;
    PictureOptions picture;

    OptionsText stored; // as read, unknown keys included; the typed fields win on save
    // What this build can act on (never stored): the menus offer only these switches.
    struct {
        bool camera = false;
        bool listen = false;
    } inBuild;
};

// "<settings folder>/options.conf", or empty when the configuration folder is unknown.
std::string optionsFilePath(UserFolders& folders);
// Defaults, then whatever the file holds. A file that cannot be read leaves the defaults.
void loadProgramOptions(ProgramOptions& options, UserFolders& folders);
// Written whole to a temporary file and renamed over the old one; false (with a
// diagnostic line) when that failed, the old file then untouched.
bool saveProgramOptions(ProgramOptions& options, UserFolders& folders, FileCalls& calls = systemFileCalls());

} // namespace tavrin::base
