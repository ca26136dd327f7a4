// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Settings.h"

#include "base/Diagnostics.h"
#include "base/FileWrite.h"
#include "base/Os.h"
#include "base/UserFolders.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tavrin::base {

namespace {

// Field offsets in the record.
constexpr std::size_t kMagic = 0;
constexpr std::size_t kOutputFolder = 4;
constexpr std::size_t kRecordScreens = 524;
constexpr std::size_t kDisplayMode = 528;
constexpr std::size_t kAudioSource = 532;
constexpr std::size_t kAudioCompressor = 788;
constexpr std::size_t kSplitWindows = 1044;
constexpr std::size_t kAlwaysOnTop = 1045;
constexpr std::size_t kPointScaling = 1046;
constexpr std::size_t kShrinkWhenMaximized = 1047;
constexpr std::size_t kMaximizedShrink = 1048;
constexpr std::size_t kRecordFps = 1052;
constexpr std::size_t kReserved1056 = 1056;
constexpr std::size_t kClientWidth = 1060;
constexpr std::size_t kClientHeight = 1068;
constexpr std::size_t kReserved1076 = 1076;
constexpr std::size_t kVideoQuality = 1080;
constexpr std::size_t kVideoCodec = 1088;
constexpr std::size_t kVideoCodecSettingsSize = 1344;

constexpr const char* kFolderName = "Tavrin Capture";
constexpr const char* kFileName = "tavrin_capture.cfg";
constexpr const char* kDamagedSuffix = ".damaged";

uint32_t getU32(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int32_t getI32(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<int32_t>(getU32(b, at));
}
uint64_t getU64(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint64_t>(getU32(b, at)) | static_cast<uint64_t>(getU32(b, at + 4)) << 32;
}
template <std::size_t N> void getText(std::span<const uint8_t> b, std::size_t at, FixedText<N>& text) {
    for (std::size_t i = 0; i < N; ++i)
        text.units[i] = static_cast<char16_t>(b[at + 2 * i] | b[at + 2 * i + 1] << 8);
}

void putU32(uint8_t* b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putI32(uint8_t* b, std::size_t at, int32_t v) {
    putU32(b, at, static_cast<uint32_t>(v));
}
void putU64(uint8_t* b, std::size_t at, uint64_t v) {
    putU32(b, at, static_cast<uint32_t>(v));
    putU32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
template <std::size_t N> void putText(uint8_t* b, std::size_t at, const FixedText<N>& text) {
    for (std::size_t i = 0; i < N; ++i) {
        b[at + 2 * i] = static_cast<uint8_t>(text.units[i]);
        b[at + 2 * i + 1] = static_cast<uint8_t>(text.units[i] >> 8);
    }
}

// Range checks written so that NaN fails them too.
bool within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

std::string settingsFolder(UserFolders& folders) {
    const std::string config = folders.configFolder();
    return config.empty() ? std::string() : config + "/" + kFolderName;
}

// Creates the folder (and any missing parent); an existing folder is fine.
bool ensureFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(os::toPath(folder), ec);
    return os::isFolder(folder);
}

// Moves a file that failed the checks out of the way of the next save, and
// says so in words for the user.
std::string keepDamagedFile(const std::string& path) {
    const std::string damaged = path + kDamagedSuffix;
    if (os::renameOver(path, damaged) == 0)
        return "Damaged settings file: defaults used. Old file kept as " + damaged;
    return "Damaged settings file: defaults used. " + path +
           " could not be kept aside: " + std::strerror(errno);
}

void releaseCodecBlock(Settings& settings) {
    std::vector<uint8_t>().swap(settings.videoCodecSettings);
}

} // namespace

Settings Settings::defaults(const std::string& desktopFolder) {
    Settings s;
    // The desktop plus '/', unless it is unknown or does not fit the field.
    if (!desktopFolder.empty() && !s.outputFolder.assign(desktopFolder + "/"))
        s.outputFolder.clear();
    s.audioCompressor.assign(std::u16string_view(u"PCM"));
    s.videoCodec.assign(std::u16string_view(u"Microsoft Video 1"));
    return s;
}

std::array<uint8_t, kSettingsRecordBytes> encodeSettingsRecord(const Settings& s) {
    std::array<uint8_t, kSettingsRecordBytes> out{};
    uint8_t* b = out.data();
    putU32(b, kMagic, s.magic);
    putText(b, kOutputFolder, s.outputFolder);
    putU32(b, kRecordScreens, s.recordScreens);
    putI32(b, kDisplayMode, s.displayMode);
    putText(b, kAudioSource, s.audioSource);
    putText(b, kAudioCompressor, s.audioCompressor);
    b[kSplitWindows] = s.splitWindows;
    b[kAlwaysOnTop] = s.alwaysOnTop;
    b[kPointScaling] = s.pointScaling;
    b[kShrinkWhenMaximized] = s.shrinkWhenMaximized;
    putU32(b, kMaximizedShrink, std::bit_cast<uint32_t>(s.maximizedShrink));
    putI32(b, kRecordFps, s.recordFps);
    putU32(b, kReserved1056, s.reserved1056);
    for (int i = 0; i < 2; ++i) {
        putI32(b, kClientWidth + 4 * i, s.clientWidth[i]);
        putI32(b, kClientHeight + 4 * i, s.clientHeight[i]);
    }
    putU32(b, kReserved1076, s.reserved1076);
    putU64(b, kVideoQuality, std::bit_cast<uint64_t>(s.videoQuality));
    putText(b, kVideoCodec, s.videoCodec);
    putI32(b, kVideoCodecSettingsSize, s.videoCodecSettingsSize());
    return out;
}

std::optional<Settings> parseSettingsFile(std::span<const uint8_t> file) {
    if (file.size() < kSettingsRecordBytes)
        return std::nullopt;
    const auto b = file.first(kSettingsRecordBytes);

    Settings s;
    s.magic = getU32(b, kMagic);
    s.recordScreens = getU32(b, kRecordScreens);
    s.displayMode = getI32(b, kDisplayMode);
    s.maximizedShrink = std::bit_cast<float>(getU32(b, kMaximizedShrink));
    s.videoQuality = std::bit_cast<double>(getU64(b, kVideoQuality));
    if (s.magic != kSettingsMagic || s.displayMode == 0 || !within(s.videoQuality, 0.0, 1.0) ||
        s.recordScreens > 2 || !within(static_cast<double>(s.maximizedShrink), 0.0, 0.08))
        return std::nullopt;

    // Only rows 6 and 7 of the layout table are real layouts; anything else would
    // index past the table or give windows of no size.
    if (s.displayMode != 6 && s.displayMode != 7)
        s.displayMode = 6;

    getText(b, kOutputFolder, s.outputFolder);
    getText(b, kAudioSource, s.audioSource);
    getText(b, kAudioCompressor, s.audioCompressor);
    s.splitWindows = b[kSplitWindows];
    s.alwaysOnTop = b[kAlwaysOnTop];
    s.pointScaling = b[kPointScaling];
    s.shrinkWhenMaximized = b[kShrinkWhenMaximized];
    s.recordFps = getI32(b, kRecordFps);
    s.reserved1056 = getU32(b, kReserved1056);
    for (int i = 0; i < 2; ++i) {
        s.clientWidth[i] = getI32(b, kClientWidth + 4 * i);
        s.clientHeight[i] = getI32(b, kClientHeight + 4 * i);
        // A size no window can have (damage, or another program's numbers) would ask
        // the graphics driver for an impossible surface: the layout's size stands in.
        // 0 x 0 already means that.
        const bool unset = s.clientWidth[i] == 0 && s.clientHeight[i] == 0;
        const bool usable = s.clientWidth[i] >= 1 && s.clientWidth[i] <= kMaxClientSize &&
                            s.clientHeight[i] >= 1 && s.clientHeight[i] <= kMaxClientSize;
        if (!unset && !usable) {
            s.clientWidth[i] = 0;
            s.clientHeight[i] = 0;
        }
    }
    s.reserved1076 = getU32(b, kReserved1076);
    getText(b, kVideoCodec, s.videoCodec);

    // The codec block: used only when all of it is there; otherwise the compressor
    // starts from its own defaults.
    const int32_t announced = getI32(b, kVideoCodecSettingsSize);
    const auto rest = file.subspan(kSettingsRecordBytes);
    if (announced > 0 && announced <= kMaxVideoCodecSettingsBytes &&
        rest.size() >= static_cast<std::size_t>(announced))
        s.videoCodecSettings.assign(rest.begin(), rest.begin() + announced);
    return s;
}

std::string settingsFilePath(UserFolders& folders) {
    const std::string folder = settingsFolder(folders);
    return folder.empty() ? std::string() : folder + "/" + kFileName;
}

std::string loadSettings(Settings& settings, UserFolders& folders) {
    settings = Settings::defaults(folders.desktopFolder());

    bool loaded = false;
    std::string notice;
    const std::string folder = settingsFolder(folders);
    if (!folder.empty() && ensureFolder(folder)) {
        const std::string path = folder + "/" + kFileName;
        std::ifstream in(os::toPath(path), std::ios::binary);
        if (in) {
            // The record, then as much of the announced block as is there.
            std::vector<uint8_t> bytes(kSettingsRecordBytes);
            in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            bytes.resize(static_cast<std::size_t>(in.gcount()));
            if (bytes.size() == kSettingsRecordBytes) {
                const int32_t announced = getI32(bytes, kVideoCodecSettingsSize);
                if (announced > 0 && announced <= kMaxVideoCodecSettingsBytes) {
                    bytes.resize(kSettingsRecordBytes + static_cast<std::size_t>(announced));
                    in.read(reinterpret_cast<char*>(bytes.data() + kSettingsRecordBytes), announced);
                    bytes.resize(kSettingsRecordBytes + static_cast<std::size_t>(in.gcount()));
                }
            }
            if (auto parsed = parseSettingsFile(bytes)) {
                settings = std::move(*parsed);
                loaded = true;
                for (std::size_t i = 0; i < 2; ++i) {
                    const int32_t width = getI32(bytes, kClientWidth + 4 * i);
                    const int32_t height = getI32(bytes, kClientHeight + 4 * i);
                    if (width != settings.clientWidth[i] || height != settings.clientHeight[i])
                        base::appLog.warning(
                            "window %zu: stored size %d x %d is not usable; using the picture's size\n", i,
                            width, height);
                }
            } else {
                in.close();
                notice = keepDamagedFile(path);
            }
        }
    }

    // New files land in the current directory, so it follows the output folder;
    // a folder that is gone leaves the field empty.
    if (!folders.setCurrentDirectory(settings.outputFolder.utf8()))
        settings.outputFolder.clear();
    if (loaded)
        base::appLog.debug("videoCodecSettingsSize=%d\n", settings.videoCodecSettingsSize());
    if (!notice.empty())
        base::appLog.warning("%s\n", notice.c_str());
    return notice;
}

void saveSettings(Settings& settings, UserFolders& folders, FileCalls& calls) {
    const std::string folder = settingsFolder(folders);
    if (!folder.empty() && ensureFolder(folder)) {
        const std::string path = folder + "/" + kFileName;
        const auto record = encodeSettingsRecord(settings);
        if (!replaceFile(path, {record, settings.videoCodecSettings}, calls))
            base::appLog.error("saveSettings: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    }
    releaseCodecBlock(settings);
}

} // namespace tavrin::base
