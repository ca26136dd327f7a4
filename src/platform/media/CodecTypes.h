// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <string>

struct AVCodecContext;
struct AVCodecParameters;

namespace tavrin::media {

// The media type of an open encoder's output: the four-character code of the
// codec in AVI, a VIDEOINFOHEADER, and the codec's extra data after it.
record::HRESULT compressedVideoType(const AVCodecContext* encoder, record::REFERENCE_TIME frameInterval,
                                    uint32_t maxPacketSize, record::MediaType* type);

// Fills a multiplexer stream's parameters from a connection type (compressed video
// as above, or 16-bit PCM). False when the type names no codec we can write.
bool codecParametersFromType(const record::MediaType& type, AVCodecParameters* parameters);

// 16-bit PCM in a WAVEFORMATEX.
record::MediaType pcmType(uint32_t sampleRate, uint16_t channels);

// libavutil's text for an AVERROR code.
std::string avErrorText(int error);

} // namespace tavrin::media
