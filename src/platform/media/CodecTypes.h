// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <string>

extern "C" {
#include <libavutil/rational.h>
}

namespace tavrin::media {

// One frame of that interval as a time base: 1/fps for whole rates, else exact.
AVRational frameDuration(record::REFERENCE_TIME interval);

// 16-bit PCM in a WAVEFORMATEX.
record::MediaType pcmType(uint32_t sampleRate, uint16_t channels);

// libavutil's text for an AVERROR code.
std::string avErrorText(int error);

} // namespace tavrin::media
