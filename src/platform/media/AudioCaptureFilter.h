#pragma once

#include "record/AudioTimeline.h"
#include "record/CapturePinCategory.h"
#include "record/MediaInterfaces.h"
#include "record/Source.h"
#include "record/SourceStream.h"

#include <memory>
#include <string>
#include <vector>

namespace tavrin::media {

// A sound input as libavdevice names it.
struct AudioDevice {
    std::string inputFormat; // "pulse" or "alsa"
    std::string deviceName;  // the server's name for it ("tavrin_null.monitor", "default")
    std::string description; // what the user sees
};

class AudioCaptureFilter;
struct AudioReader;

// Delivers 16-bit PCM from the device, kept on the graph's clock by sample counting.
class AudioCapturePin : public record::CSourceStream, public record::CapturePinCategory {
  public:
    static constexpr uint32_t kSampleRate = 48000;
    static constexpr uint16_t kChannels = 2;
    static constexpr int kBlockAlign = kChannels * 2;

    explicit AudioCapturePin(AudioCaptureFilter* filter);
    ~AudioCapturePin() override;

    record::HRESULT CheckMediaType(const record::MediaType* type) override;
    record::HRESULT GetMediaType(int32_t position, record::MediaType* type) override;
    record::HRESULT DecideBufferSize(record::MemAllocator* allocator,
                                     record::ALLOCATOR_PROPERTIES* props) override;

  protected:
    record::HRESULT OnThreadCreate() override;
    record::HRESULT OnThreadStartPlay() override;
    record::HRESULT OnThreadDestroy() override;
    record::HRESULT FillBuffer(record::MediaSample* sample) override;

  private:
    void stopReader();

    AudioCaptureFilter* owner_;
    std::shared_ptr<AudioReader> reader_;
    record::AudioTimeline timeline_{kSampleRate};
    int64_t pendingSilence_ = 0;   // samples
    std::vector<uint8_t> pending_; // sound placed but not yet delivered
    std::size_t pendingOffset_ = 0;
    int64_t emitted_ = 0; // samples delivered, for the sample times
    bool failureReported_ = false;
};

constexpr record::GUID CLSID_AudioCapture{
    0x1c2d3e4f, 0x5a6b, 0x4c7d, {0x8e, 0x9f, 0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5}};

class AudioCaptureFilter : public record::CSource {
  public:
    explicit AudioCaptureFilter(AudioDevice device);
    ~AudioCaptureFilter() override;

    const AudioDevice& device() const { return device_; }

    AudioCapturePin* pin = nullptr; // owned

  private:
    AudioDevice device_;
};

} // namespace tavrin::media
