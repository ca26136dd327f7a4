// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file parser over arbitrary bytes: it must never read out of
// bounds, whatever it accepts must keep the promises the rest of the program
// relies on (a picture layout, window sizes a window can have, values in their
// ranges), and it must write back to a file that reads the same.
// The text conversion must carry any byte string through UTF-16 unchanged.
#include "base/Settings.h"
#include "base/TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using namespace tavrin::base;

// The largest window side a stored size may give; 0 x 0 means the picture's own size.
constexpr int32_t kLargestClientSide = 16384;

bool keepsItsPromises(const Settings& s) {
    if (s.displayMode != 6 && s.displayMode != 7)
        return false;
    if (s.recordScreens > 2 || !(s.videoQuality >= 0.0 && s.videoQuality <= 1.0) ||
        !(s.maximizedShrink >= 0.0f && s.maximizedShrink <= 0.08f))
        return false;
    for (std::size_t i = 0; i < 2; ++i) {
        const int32_t w = s.clientWidth[i], h = s.clientHeight[i];
        const bool unset = w == 0 && h == 0;
        const bool usable = w >= 1 && w <= kLargestClientSide && h >= 1 && h <= kLargestClientSide;
        if (!unset && !usable)
            return false;
    }
    return s.videoCodecSettings.size() <= static_cast<std::size_t>(kMaxVideoCodecSettingsBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto parsed = parseSettingsFile({data, size})) {
        if (!keepsItsPromises(*parsed))
            std::abort();
        const auto record = encodeSettingsRecord(*parsed);
        std::vector<uint8_t> file(record.begin(), record.end());
        file.insert(file.end(), parsed->videoCodecSettings.begin(), parsed->videoCodecSettings.end());
        auto again = parseSettingsFile(file);
        if (!again || !(*again == *parsed))
            std::abort();
        (void)parsed->outputFolder.utf8();
        (void)parsed->videoCodec.utf8();
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (utf16ToUtf8(utf8ToUtf16(bytes)) != bytes)
        std::abort();
    return 0;
}
