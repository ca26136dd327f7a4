// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/FileWrite.h"
#include "base/FixedText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavrin::base {

class UserFolders;

constexpr std::size_t kSettingsRecordBytes = 1352;
constexpr uint32_t kSettingsMagic = 0x0548040A; // upper half: the record size
constexpr std::size_t kPathUnits = 260;
constexpr std::size_t kNameUnits = 128;
// A codec block larger than this is not a codec's state but a damaged file.
constexpr int32_t kMaxVideoCodecSettingsBytes = 1 << 20;
// The largest stored window client size taken as it is; beyond it no window
// system or graphics driver makes such a window.
constexpr int32_t kMaxClientSize = 16384;

// The user's choices, as stored in "tavrin_capture.cfg": the fixed 1,352-byte
// record followed by the video compressor's opaque state. Read at start-up,
// written at shutdown; in between, each part of the program changes its own
// fields on the main thread.
struct Settings {
    uint32_t magic = kSettingsMagic;
    FixedText<kPathUnits> outputFolder; // ends with '/' unless empty
    uint32_t recordScreens = 0;         // 0 both, 1 top, 2 bottom
    int32_t displayMode = 6;            // row of screenLayouts: 6 dual, 7 single
    FixedText<kNameUnits> audioSource;  // empty: the first audio capture device
    FixedText<kNameUnits> audioCompressor;
    uint8_t splitWindows = 0;
    uint8_t alwaysOnTop = 0;
    uint8_t pointScaling = 0;
    uint8_t shrinkWhenMaximized = 0;
    float maximizedShrink = 0.04f;        // 0 to 0.08
    int32_t recordFps = 30;               // 20, 30 or 60
    uint32_t reserved1056 = 75;           // kept with the record; nothing acts on it
    std::array<int32_t, 2> clientWidth{}; // per window slot; 0 = the layout's size
    std::array<int32_t, 2> clientHeight{};
    uint32_t reserved1076 = 0;  // alignment gap, kept as read
    double videoQuality = 0.85; // 0 to 1
    FixedText<kNameUnits> videoCodec;
    // The compressor's own state; its size is stored in the record. Empty = none.
    std::vector<uint8_t> videoCodecSettings;

    int32_t videoCodecSettingsSize() const { return static_cast<int32_t>(videoCodecSettings.size()); }

    // The first-start values; `desktopFolder` (no trailing '/') may be empty.
    static Settings defaults(const std::string& desktopFolder);

    friend bool operator==(const Settings&, const Settings&) = default;
};

// The record's bytes as stored (offset 1348, which means nothing, is written as 0).
std::array<uint8_t, kSettingsRecordBytes> encodeSettingsRecord(const Settings& settings);

// Decodes a whole settings file: the record, then the codec block. Returns nothing
// when the record fails the load checks (the caller keeps its defaults). A codec
// block that is missing, shorter than announced or over the size limit is dropped
// and the rest is used. A display mode other than 6 or 7 reads as 6. A window
// slot whose stored width or height lies outside 1 to kMaxClientSize reads as
// 0 x 0, the layout's own size.
std::optional<Settings> parseSettingsFile(std::span<const uint8_t> file);

// The file's full path, or empty when the configuration folder is unknown.
std::string settingsFilePath(UserFolders& folders);

// Fills `settings` with the defaults, then with the stored file if it passes the
// checks, and makes the output folder the current directory (clearing it when
// that fails). Writes "videoCodecSettingsSize=%d\n" when a file was loaded.
// A file that is there but fails the checks is moved aside to
// "tavrin_capture.cfg.damaged" (replacing an older one), so the next save does
// not destroy it; the returned text then tells the user so, once, and is also
// written as a diagnostic line. Empty when there is nothing to tell.
std::string loadSettings(Settings& settings, UserFolders& folders);

// Writes the record and the codec block to a temporary file and renames it over
// the old one, so a failed write never destroys the previous settings. Failures
// are not shown to the user. The codec block is released afterwards.
void saveSettings(Settings& settings, UserFolders& folders, FileCalls& calls = systemFileCalls());

} // namespace tavrin::base
