// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/CodecTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
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

bool codecParametersFromType(const MediaType& type, AVCodecParameters* par) {
    auto wfx = type.formatAs<WAVEFORMATEX>();
    if (!(type.majortype == MEDIATYPE_Audio) || !wfx || wfx->wFormatTag != WAVE_FORMAT_PCM ||
        wfx->wBitsPerSample != 16 || wfx->nChannels == 0)
        return false;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->codec_tag = 0;
    par->sample_rate = static_cast<int>(wfx->nSamplesPerSec);
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, wfx->nChannels);
    par->bits_per_coded_sample = 16;
    par->block_align = wfx->nBlockAlign;
    par->bit_rate = static_cast<int64_t>(wfx->nAvgBytesPerSec) * 8;
    return true;
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
