// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/FfmpegCompressor.h"

#include "base/Diagnostics.h"
#include "platform/media/CodecTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

namespace tavrin::media {

using namespace record;

namespace {

// Applies `quality` to an encoder context that is not open yet.
void applyQuality(const EncoderInfo& info, AVCodecContext* context, double quality) {
    quality = std::clamp(quality, 0.0, 1.0);
    switch (info.quality) {
    case QualityMapping::None:
        break;
    case QualityMapping::QScale: {
        const int q = 31 - static_cast<int>(std::lround(quality * 29.0));
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = q * FF_QP2LAMBDA;
        break;
    }
    case QualityMapping::X264Crf:
        av_opt_set_double(context->priv_data, "crf", 51.0 - 41.0 * quality, 0);
        break;
    }
}

// The options the configuration dialog can edit, by their type; integers with named
// values are a choice.
constexpr std::pair<AVOptionType, CodecOption::Kind> kKinds[] = {
    {AV_OPT_TYPE_INT, CodecOption::Kind::Integer}, {AV_OPT_TYPE_INT64, CodecOption::Kind::Integer},
    {AV_OPT_TYPE_FLAGS, CodecOption::Kind::Flags}, {AV_OPT_TYPE_BOOL, CodecOption::Kind::Boolean},
    {AV_OPT_TYPE_DOUBLE, CodecOption::Kind::Real}, {AV_OPT_TYPE_FLOAT, CodecOption::Kind::Real},
    {AV_OPT_TYPE_STRING, CodecOption::Kind::Text},
};

std::string versionText(unsigned v) {
    return std::to_string(AV_VERSION_MAJOR(v)) + "." + std::to_string(AV_VERSION_MINOR(v)) + "." +
           std::to_string(AV_VERSION_MICRO(v));
}

} // namespace

HRESULT FfmpegCompressor::GetInfo(double* defaultQuality, int32_t* capabilities) {
    if (defaultQuality)
        *defaultQuality = hasQuality() ? kDefaultQuality : -1.0;
    if (capabilities)
        *capabilities = hasQuality() ? CompressionCaps_CanQuality : 0;
    return S_OK;
}

HRESULT FfmpegCompressor::get_Quality(double* quality) {
    if (!quality)
        return E_POINTER;
    if (!hasQuality())
        return E_NOTIMPL;
    *quality = quality_;
    return S_OK;
}

HRESULT FfmpegCompressor::put_Quality(double quality) {
    if (!hasQuality())
        return E_NOTIMPL;
    if (!(quality >= 0.0 && quality <= 1.0))
        return E_INVALIDARG;
    quality_ = quality;
    return S_OK;
}

FfmpegCompressor::FfmpegCompressor(const EncoderInfo& info, CompressorDialogHost* host)
    : info_(info), host_(host) {
    codec_ = avcodec_find_encoder_by_name(info.encoderName.c_str());
    if (codec_)
        settings_ = avcodec_alloc_context3(codec_);
    if (privateOptions() && info.preset)
        av_opt_set(privateOptions(), "preset", info.preset, 0);
}

void* FfmpegCompressor::privateOptions() const {
    return settings_ && codec_->priv_class ? settings_->priv_data : nullptr;
}

FfmpegCompressor::~FfmpegCompressor() {
    close();
    avcodec_free_context(&settings_);
}

base::Error FfmpegCompressor::open(const MediaType& type, AVCodecParameters* parameters) {
    const base::Error notAccepted = base::Error::status(VFW_E_TYPE_NOT_ACCEPTED, {});
    const auto fail = [this](base::Error error) { // nothing half-open stays behind
        close();
        return error;
    };
    close();
    auto vih = type.formatAs<VIDEOINFOHEADER>();
    if (!(type.majortype == MEDIATYPE_Video) || !(type.subtype == MEDIASUBTYPE_RGB24) || !vih ||
        vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight <= 0 || vih->bmiHeader.biBitCount != 24 ||
        vih->AvgTimePerFrame <= 0 || vih->bmiHeader.biWidth % info_.sizeMultiple ||
        vih->bmiHeader.biHeight % info_.sizeMultiple || !codec_ || !settings_)
        return notAccepted;
    width_ = vih->bmiHeader.biWidth;
    height_ = vih->bmiHeader.biHeight;
    interval_ = vih->AvgTimePerFrame;

    encoder_ = avcodec_alloc_context3(codec_);
    frame_ = av_frame_alloc();
    if (!encoder_ || !frame_)
        return fail(base::Error::status(E_OUTOFMEMORY, "Out of memory."));
    if (privateOptions() && encoder_->priv_data)
        av_opt_copy(encoder_->priv_data, privateOptions());

    // One time base unit per frame, so packet times are frame indices.
    encoder_->time_base = frameDuration(interval_);
    encoder_->framerate = AVRational{encoder_->time_base.den, encoder_->time_base.num};
    encoder_->width = width_;
    encoder_->height = height_;
    encoder_->pix_fmt = info_.pixelFormat;
    encoder_->max_b_frames = 0; // AVI keeps no presentation times: no reordering
    encoder_->gop_size =
        std::max(1, static_cast<int>(std::lround(static_cast<double>(UNITS) * 2 / interval_)));
    encoder_->thread_count = 1;
    applyQuality(info_, encoder_, quality_ >= 0 ? quality_ : kDefaultQuality);

    int err = avcodec_open2(encoder_, codec_, nullptr);
    if (err < 0)
        return fail(base::Error::library(err, "The " + info_.friendlyName + " encoder could not start (" +
                                                  avErrorText(err) + ")."));
    frame_->format = info_.pixelFormat;
    frame_->width = width_;
    frame_->height = height_;
    sws_ = sws_getContext(width_, height_, AV_PIX_FMT_BGR24, width_, height_, info_.pixelFormat, SWS_POINT,
                          nullptr, nullptr, nullptr);
    if (av_frame_get_buffer(frame_, 0) < 0 || !sws_)
        return fail(base::Error::status(E_FAIL, "No conversion to the " + info_.friendlyName +
                                                    " encoder's picture format."));
    // Some encoders choose their code by the picture format (Ut Video: ULRG for RGB).
    static const AVCodecTag* const riffTags[] = {avformat_get_riff_video_tags(), nullptr};
    const unsigned tag =
        encoder_->codec_tag ? encoder_->codec_tag : av_codec_get_tag(riffTags, encoder_->codec_id);
    if (!tag || avcodec_parameters_from_context(parameters, encoder_) < 0)
        return fail(notAccepted);
    parameters->codec_tag = tag;
    if (parameters->bits_per_coded_sample <= 0)
        parameters->bits_per_coded_sample = 24;
    flushed_ = false;
    return {};
}

void FfmpegCompressor::close() {
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&frame_);
    avcodec_free_context(&encoder_);
}

HRESULT FfmpegCompressor::encode(MediaSample* sample) {
    if (!encoder_ || flushed_)
        return S_FALSE;
    if (!sample) {
        flushed_ = true;
        return avcodec_send_frame(encoder_, nullptr) == 0 ? S_OK : S_FALSE;
    }
    uint8_t* p = nullptr;
    sample->GetPointer(&p);
    const int stride = (width_ * 3 + 3) & ~3;
    if (!p || sample->GetActualDataLength() < stride * height_)
        return E_INVALIDARG;
    // The sample is a bottom-up bitmap: start at its last row and walk backwards.
    const uint8_t* src[4] = {p + static_cast<std::ptrdiff_t>(height_ - 1) * stride, nullptr, nullptr,
                             nullptr};
    const int srcStride[4] = {-stride, 0, 0, 0};
    if (av_frame_make_writable(frame_) < 0)
        return E_OUTOFMEMORY;
    sws_scale(sws_, src, srcStride, 0, height_, frame_->data, frame_->linesize);
    REFERENCE_TIME start = 0;
    sample->GetTime(&start, nullptr);
    frame_->pts = std::llround(static_cast<double>(start) / static_cast<double>(interval_));
    // A fixed quantiser is read from each frame, not from the context.
    if (encoder_->flags & AV_CODEC_FLAG_QSCALE)
        frame_->quality = encoder_->global_quality;
    return avcodec_send_frame(encoder_, frame_) == 0 ? S_OK : E_FAIL;
}

std::vector<CodecOption> FfmpegCompressor::options() const {
    std::vector<CodecOption> list;
    void* obj = privateOptions();
    if (!obj)
        return list;
    const AVOption* o = nullptr;
    while ((o = av_opt_next(obj, o))) {
        if (o->type == AV_OPT_TYPE_CONST || !(o->flags & AV_OPT_FLAG_ENCODING_PARAM) ||
            (o->flags & (AV_OPT_FLAG_DEPRECATED | AV_OPT_FLAG_READONLY)))
            continue;
        const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                       [o](const auto& k) { return k.first == o->type; });
        if (kind == std::end(kKinds))
            continue; // a kind the dialog cannot edit
        CodecOption opt;
        opt.kind =
            kind->second == CodecOption::Kind::Integer && o->unit ? CodecOption::Kind::Choice : kind->second;
        opt.name = o->name;
        opt.help = o->help ? o->help : "";
        opt.minimum = o->min;
        opt.maximum = o->max;
        if (opt.kind == CodecOption::Kind::Real)
            opt.defaultValue = std::to_string(o->default_val.dbl);
        else if (opt.kind == CodecOption::Kind::Text)
            opt.defaultValue = o->default_val.str ? o->default_val.str : "";
        else
            opt.defaultValue = std::to_string(o->default_val.i64);
        if (o->unit && (opt.kind == CodecOption::Kind::Choice || opt.kind == CodecOption::Kind::Flags)) {
            const AVOption* c = nullptr;
            while ((c = av_opt_next(obj, c)))
                if (c->type == AV_OPT_TYPE_CONST && c->unit && std::strcmp(c->unit, o->unit) == 0)
                    opt.choices.push_back({c->name, std::to_string(c->default_val.i64)});
        }
        // Numbers for choices and flags, so that the dialog can map them to names.
        if (opt.kind == CodecOption::Kind::Choice || opt.kind == CodecOption::Kind::Flags) {
            int64_t v = 0;
            if (av_opt_get_int(obj, o->name, 0, &v) >= 0)
                opt.value = std::to_string(v);
        } else {
            uint8_t* text = nullptr;
            if (av_opt_get(obj, o->name, 0, &text) >= 0 && text)
                opt.value = reinterpret_cast<char*>(text);
            av_free(text);
        }
        list.push_back(std::move(opt));
    }
    return list;
}

bool FfmpegCompressor::setOption(const std::string& name, const std::string& value) {
    return privateOptions() && av_opt_set(privateOptions(), name.c_str(), value.c_str(), 0) >= 0;
}

std::string FfmpegCompressor::aboutText() const {
    std::string text = info_.friendlyName + "\n\nEncoder: " + info_.encoderName;
    if (codec_ && codec_->long_name)
        text += std::string(" (") + codec_->long_name + ")";
    text += "\nlibavcodec " + versionText(avcodec_version()) + ", libavformat " +
            versionText(avformat_version()) + ", libavutil " + versionText(avutil_version()) +
            ", libswscale " + versionText(swscale_version());
    switch (info_.quality) {
    case QualityMapping::None:
        text += info_.lossless ? "\nLossless: every picture is kept exactly."
                               : "\nQuality is fixed by the encoder.";
        break;
    case QualityMapping::QScale:
        text += "\nQuality sets a fixed quantiser from 31 (0.00) to 2 (1.00).";
        break;
    case QualityMapping::X264Crf:
        text += "\nQuality sets the constant rate factor from 51 (0.00) to 10 (1.00).";
        break;
    }
    return text;
}

HRESULT FfmpegCompressor::GetState(void* state, int32_t* size) {
    if (!size)
        return E_POINTER;
    // The encoder's name first, so that a state is never given to another encoder.
    std::string blob = info_.encoderName + "\n";
    char* text = nullptr;
    if (privateOptions() &&
        av_opt_serialize(privateOptions(), AV_OPT_FLAG_ENCODING_PARAM, AV_OPT_SERIALIZE_SKIP_DEFAULTS, &text,
                         '=', ':') >= 0 &&
        text)
        blob += text;
    av_free(text);
    if (state && *size < static_cast<int32_t>(blob.size()))
        return E_INVALIDARG;
    if (state)
        std::memcpy(state, blob.data(), blob.size());
    *size = static_cast<int32_t>(blob.size());
    return S_OK;
}

HRESULT FfmpegCompressor::SetState(const void* state, int32_t size) {
    if (size < 0 || (!state && size > 0))
        return E_POINTER;
    const std::string blob(static_cast<const char*>(state), static_cast<std::size_t>(size));
    const std::size_t newline = blob.find('\n');
    if (newline == std::string::npos || blob.substr(0, newline) != info_.encoderName)
        return E_INVALIDARG;
    if (!settings_)
        return E_UNEXPECTED;
    const std::string options = blob.substr(newline + 1);
    AVDictionary* dict = nullptr;
    if (!options.empty() && av_dict_parse_string(&dict, options.c_str(), "=", ":", 0) < 0) {
        av_dict_free(&dict);
        return E_INVALIDARG;
    }
    // The state names every option that differs from the library's default.
    void* priv = privateOptions();
    if (priv)
        av_opt_set_defaults(priv);
    const AVDictionaryEntry* e = nullptr;
    int refused = 0;
    while (priv && (e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)))
        if (av_opt_set(priv, e->key, e->value, 0) < 0)
            ++refused;
    av_dict_free(&dict);
    if (refused)
        base::recordLog.warning("%d codec setting(s) not known to this %s encoder\n", refused,
                                info_.encoderName.c_str());
    return S_OK;
}

HRESULT FfmpegCompressor::ShowDialog(int32_t dialog, void* owner) {
    switch (dialog) {
    case VfwCompressDialog_QueryConfig:
        return host_ && !options().empty() ? S_OK : S_FALSE;
    case VfwCompressDialog_QueryAbout:
        return host_ ? S_OK : S_FALSE;
    case VfwCompressDialog_Config: {
        if (!host_)
            return E_NOTIMPL;
        std::vector<CodecOption> list = options();
        if (list.empty())
            return E_NOTIMPL;
        const std::vector<CodecOption> before = list;
        if (!host_->configure(owner, info_.friendlyName, list))
            return S_FALSE;
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].value != before[i].value && !setOption(list[i].name, list[i].value))
                base::recordLog.warning("%s: %s=%s refused\n", info_.encoderName.c_str(),
                                        list[i].name.c_str(), list[i].value.c_str());
        return S_OK;
    }
    case VfwCompressDialog_About:
        if (!host_)
            return E_NOTIMPL;
        host_->about(owner, "About " + info_.friendlyName, aboutText());
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

} // namespace tavrin::media
