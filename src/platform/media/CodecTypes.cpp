// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/CodecTypes.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <cmath>
#include <cstdint>

namespace tavrin::media {

using namespace record;

AVRational frameDuration(REFERENCE_TIME interval) {
    const double fps = static_cast<double>(UNITS) / static_cast<double>(interval);
    if (std::fabs(fps - std::round(fps)) < 1e-3)
        return AVRational{1, static_cast<int>(std::lround(fps))};
    AVRational r;
    av_reduce(&r.num, &r.den, interval, UNITS, INT32_MAX);
    return r;
}

MediaType pcmType(uint32_t sampleRate, uint16_t channels) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = sampleRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = static_cast<uint16_t>(channels * 2);
    wfx.nAvgBytesPerSec = sampleRate * wfx.nBlockAlign;
    MediaType mt;
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = true;
    mt.lSampleSize = wfx.nBlockAlign;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.setFormat(wfx);
    return mt;
}

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

} // namespace tavrin::media
