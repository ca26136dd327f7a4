// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/media/EncoderCatalog.h"
#include "record/CompressorDialogHost.h"
#include "record/MediaInterfaces.h"
#include "record/TransformFilter.h"

#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace tavrin::media {

class FfmpegCompressor;

// The compressor's output pin also answers the quality interface.
class CompressorOutputPin : public record::TransformOutputPin, public record::IAMVideoCompression {
  public:
    CompressorOutputPin(FfmpegCompressor* filter, std::recursive_mutex* lock);
    record::HRESULT GetInfo(std::string* version, std::string* description, int32_t* defaultKeyFrameRate,
                            int32_t* defaultPFramesPerKey, double* defaultQuality,
                            int32_t* capabilities) override;
    record::HRESULT get_Quality(double* quality) override;
    record::HRESULT put_Quality(double quality) override;

  private:
    FfmpegCompressor* compressor_;
};

constexpr record::GUID CLSID_FfmpegCompressor{
    0x7c5e2a01, 0x4f3b, 0x4d1a, {0x9a, 0x51, 0x2e, 0x8b, 0x61, 0x0c, 0x3d, 0x77}};

// One libavcodec video encoder as a compressor filter: RGB24 samples in, the
// encoder's packets out. Its private options are its configuration and state.
class FfmpegCompressor : public record::TransformFilter, public record::IAMVfwCompressDialogs {
  public:
    FfmpegCompressor(const EncoderInfo& info, record::CompressorDialogHost* host);
    ~FfmpegCompressor() override;

    record::HRESULT CheckInputType(const record::MediaType* in) override;
    record::HRESULT CheckTransform(const record::MediaType* in, const record::MediaType* out) override;
    record::HRESULT GetOutputType(int32_t position, record::MediaType* type) override;
    record::HRESULT DecideBufferSize(record::MemAllocator* allocator,
                                     record::ALLOCATOR_PROPERTIES* props) override;
    record::HRESULT Transform(record::MediaSample* in) override;
    record::HRESULT EndOfStream() override;
    record::HRESULT StartStreaming() override;
    record::HRESULT StopStreaming() override;
    record::HRESULT BreakConnect(record::PIN_DIRECTION direction) override;

    record::HRESULT ShowDialog(int32_t dialog, void* owner) override;
    // The filter's run state and the compressor's saved state share a name.
    using record::TransformFilter::GetState;
    record::HRESULT GetState(void* state, int32_t* size) override;
    record::HRESULT SetState(const void* state, int32_t size) override;

    // Quality, as the output pin reports it.
    bool hasQuality() const { return info_.quality != QualityMapping::None; }
    double quality() const { return quality_; }
    record::HRESULT setQuality(double quality);

    const EncoderInfo& info() const { return info_; }
    // The private options as the configuration dialog shows them.
    std::vector<record::CodecOption> options() const;
    // False when the encoder has no option of that name or refuses the value.
    bool setOption(const std::string& name, const std::string& value);
    std::string aboutText() const;
    // Why the encoder could not be opened, for the user.
    const std::string& lastError() const { return lastError_; }

  private:
    record::HRESULT openEncoder();
    void closeEncoder();
    record::HRESULT deliverPackets();
    std::string serialiseOptions() const;

    const EncoderInfo& info_;
    const AVCodec* codec_ = nullptr;
    record::CompressorDialogHost* host_;
    AVCodecContext* settings_ = nullptr; // keeps the private options between runs
    double quality_ = -1;                // -1 until set
    AVCodecContext* encoder_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    record::REFERENCE_TIME interval_ = 0;
    int width_ = 0;
    int height_ = 0;
    uint32_t maxPacket_ = 0;
    bool flushed_ = false;
    std::string lastError_;
};

} // namespace tavrin::media
