// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/CodecTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cstring>

namespace tavrin::media {

using namespace record;

namespace {

const AVCodecTag* const* riffVideoTags() {
    static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return tags;
}

} // namespace

HRESULT compressedVideoType(const AVCodecContext* encoder, REFERENCE_TIME frameInterval,
                            uint32_t maxPacketSize, MediaType* type) {
    // Some encoders choose their code by the picture format (Ut Video: ULRG for RGB).
    const unsigned tag =
        encoder->codec_tag ? encoder->codec_tag : av_codec_get_tag(riffVideoTags(), encoder->codec_id);
    if (!tag)
        return VFW_E_TYPE_NOT_ACCEPTED;
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = frameInterval;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER) + static_cast<uint32_t>(encoder->extradata_size);
    vih.bmiHeader.biWidth = encoder->width;
    vih.bmiHeader.biHeight = encoder->height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount =
        static_cast<uint16_t>(encoder->bits_per_coded_sample > 0 ? encoder->bits_per_coded_sample : 24);
    vih.bmiHeader.biCompression = tag;
    vih.bmiHeader.biSizeImage = maxPacketSize;
    type->majortype = MEDIATYPE_Video;
    type->subtype = fourccSubtype(tag);
    type->bFixedSizeSamples = false;
    type->bTemporalCompression = encoder->gop_size > 1;
    type->lSampleSize = 0;
    type->formattype = FORMAT_VideoInfo;
    type->setFormat(vih, encoder->extradata, static_cast<std::size_t>(std::max(0, encoder->extradata_size)));
    return S_OK;
}

bool codecParametersFromType(const MediaType& type, AVCodecParameters* par) {
    if (type.majortype == MEDIATYPE_Video) {
        auto vih = type.formatAs<VIDEOINFOHEADER>();
        if (!vih || !(type.formattype == FORMAT_VideoInfo))
            return false;
        const AVCodecID id = av_codec_get_id(riffVideoTags(), vih->bmiHeader.biCompression);
        if (id == AV_CODEC_ID_NONE)
            return false;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = id;
        par->codec_tag = vih->bmiHeader.biCompression;
        par->width = vih->bmiHeader.biWidth;
        par->height = vih->bmiHeader.biHeight;
        par->bits_per_coded_sample = vih->bmiHeader.biBitCount;
        auto extra = type.formatTail<VIDEOINFOHEADER>();
        av_freep(&par->extradata);
        par->extradata_size = 0;
        if (!extra.empty()) {
            par->extradata = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!par->extradata)
                return false;
            std::memcpy(par->extradata, extra.data(), extra.size());
            par->extradata_size = static_cast<int>(extra.size());
        }
        return true;
    }
    if (type.majortype == MEDIATYPE_Audio) {
        auto wfx = type.formatAs<WAVEFORMATEX>();
        if (!wfx || wfx->wFormatTag != WAVE_FORMAT_PCM || wfx->wBitsPerSample != 16 || wfx->nChannels == 0)
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
    return false;
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
