// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace tavrin::media {

// How a compressor's quality (0 to 1) reaches its encoder.
enum class QualityMapping {
    None,    // lossless, or no quality control in the library
    QScale,  // fixed quantiser: 31 - 29 x quality (1.0 -> 2, 0.85 -> 6, 0 -> 31)
    X264Crf, // constant rate factor: 51 - 41 x quality (1.0 -> 10, 0.85 -> 16.2, 0 -> 51)
};

struct EncoderInfo {
    std::string friendlyName;  // what the user sees and the settings store
    std::string encoderName;   // libavcodec's name
    AVPixelFormat pixelFormat; // what the encoder is fed
    QualityMapping quality;
    bool lossless;
    int sizeMultiple; // width and height must be multiples of this
    // The "preset" option set before the user's own (a fast one for live capture), or null.
    const char* preset;
};

// The quality a compressor starts with until the user sets one.
constexpr double kDefaultQuality = 0.75;

// Every encoder we offer that the library has, in a fixed order.
std::vector<const EncoderInfo*> availableEncoders();
const EncoderInfo* findEncoder(const std::string& friendlyName);

} // namespace tavrin::media
