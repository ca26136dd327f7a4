// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "platform/media/EncoderCatalog.h"
#include "record/BaseFilter.h"
#include "record/CompressorDialogHost.h"
#include "record/MediaInterfaces.h"
#include "record/MediaSample.h"

#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct SwsContext;

namespace tavrin::media {

// One libavcodec video encoder as the recording's compressor: its private options are
// its configuration and state, and while a recording runs the file's video input
// encodes each sample through it and takes its packets straight from the encoder.
class FfmpegCompressor : public record::BaseFilter,
                         public record::IAMVideoCompression,
                         public record::IAMVfwCompressDialogs {
  public:
    FfmpegCompressor(const EncoderInfo& info, record::CompressorDialogHost* host);
    ~FfmpegCompressor() override;

    // Opens the encoder for bottom-up RGB24 pictures of `type` and describes its stream
    // in `parameters`. VFW_E_TYPE_NOT_ACCEPTED (without a text) for a picture it cannot
    // take; E_FAIL, saying why, when the encoder will not start.
    base::Error open(const record::MediaType& type, AVCodecParameters* parameters);
    // Sends one sample to the encoder (null: the end, flushing what it holds); its
    // packets are then read from encoder(). S_FALSE once flushed.
    record::HRESULT encode(record::MediaSample* sample);
    AVCodecContext* encoder() const { return encoder_; }
    void close();

    record::HRESULT GetInfo(double* defaultQuality, int32_t* capabilities) override;
    record::HRESULT get_Quality(double* quality) override;
    record::HRESULT put_Quality(double quality) override;

    record::HRESULT ShowDialog(int32_t dialog, void* owner) override;
    // The filter's run state and the compressor's saved state share a name.
    using record::BaseFilter::GetState;
    record::HRESULT GetState(void* state, int32_t* size) override;
    record::HRESULT SetState(const void* state, int32_t size) override;

    bool hasQuality() const { return info_.quality != QualityMapping::None; }

    // The private options as the configuration dialog shows them.
    std::vector<record::CodecOption> options() const;
    // False when the encoder has no option of that name or refuses the value.
    bool setOption(const std::string& name, const std::string& value);
    std::string aboutText() const;

  private:
    // The encoder's private options kept between runs; null when it has none.
    void* privateOptions() const;

    const EncoderInfo& info_;
    const AVCodec* codec_ = nullptr;
    record::CompressorDialogHost* host_;
    AVCodecContext* settings_ = nullptr; // keeps the private options between runs
    double quality_ = -1;                // -1 until set
    AVCodecContext* encoder_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    record::REFERENCE_TIME interval_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool flushed_ = false;
};

} // namespace tavrin::media
