// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;

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
    // Private options set before the user's own (a fast preset for live capture).
    std::vector<std::pair<std::string, std::string>> presetOptions;
};

// The quality a compressor starts with until the user sets one.
constexpr double kDefaultQuality = 0.75;

// Every encoder we offer, in a fixed order; only those the library has are listed.
const std::vector<EncoderInfo>& knownEncoders();
std::vector<const EncoderInfo*> availableEncoders();
const EncoderInfo* findEncoder(const std::string& friendlyName);

// Applies `quality` to an encoder context that is not open yet.
void applyQuality(const EncoderInfo& info, AVCodecContext* context, double quality);

} // namespace tavrin::media
