#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::record {

// The settings that recordings read and the two settings dialogs change. The
// program keeps them in its settings record; the recording side sees only these.
struct RecordingSettings {
    std::string outputFolder;   // ends with '/' unless empty; the status line shows it
    int32_t displayMode = 6;    // the current screen layout
    uint32_t recordScreens = 0; // 0 both, 1 top, 2 bottom
    int32_t recordFps = 30;     // 20, 30 or 60
    std::string videoCodec = "Microsoft Video 1";
    double videoQuality = 0.85;              // 0 to 1
    std::vector<uint8_t> videoCodecSettings; // the compressor's opaque state; empty = none
    std::string audioSource;                 // empty: the first device; an unknown name: no sound
    std::string audioCompressor = "PCM";     // shown and kept; recordings always use "PCM"
};

} // namespace tavrin::record
