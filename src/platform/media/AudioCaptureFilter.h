// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "record/AudioTimeline.h"
#include "record/CapturePinCategory.h"
#include "record/MediaInterfaces.h"
#include "record/SourceStream.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SwrContext;

namespace tavrin::media {

// A sound input as libavdevice names it.
struct AudioDevice {
    std::string inputFormat; // "pulse" or "alsa"
    std::string deviceName;  // the server's name for it ("tavrin_null.monitor", "default")
    std::string description; // what the user sees
    bool dummy = false;      // gives nothing real ("null"): used only when the user names it
};

class AudioCaptureFilter;
struct AudioReader;

// Writes the capture pin's sound (48 kHz stereo) with a number of samples more or
// fewer, through a resampler from the rate to itself. Each stretch is spread over at
// least 20 ms of output and ends by itself: a sound server also hands over packets of
// a few samples, and a sample of stretch squeezed into those is a step in the sound.
class SoundStretcher {
  public:
    SoundStretcher();
    ~SoundStretcher();
    SoundStretcher(const SoundStretcher&) = delete;
    SoundStretcher& operator=(const SoundStretcher&) = delete;
    // Appends `samples` of `data` to `out`, with `stretch` samples more (or, negative,
    // fewer) from here on; returns the samples appended.
    int64_t add(const uint8_t* data, int64_t samples, int64_t stretch, std::vector<uint8_t>& out);

  private:
    SwrContext* swr_ = nullptr; // none: the sound goes through as it is
};

// Delivers 16-bit PCM from the device, kept on the graph's clock by sample counting:
// every sample the device gives is written, drift is taken out by a resampler's
// compensation, and only a device that stops delivering is replaced by silence.
class AudioCapturePin : public record::CSourceStream, public record::CapturePinCategory {
  public:
    static constexpr uint32_t kSampleRate = 48000;
    static constexpr uint16_t kChannels = 2;
    static constexpr int kBlockAlign = kChannels * 2;
    // How long the sound may be held up before it counts as gone. A busy machine or a
    // starved sound server can hold it back for well over half a second and then hand
    // it all over; silence put in for that would have to be squeezed out again later.
    static constexpr record::REFERENCE_TIME kJitter = 2 * record::UNITS;

    explicit AudioCapturePin(AudioCaptureFilter* filter);

    record::HRESULT CheckMediaType(const record::MediaType* type) override;
    record::HRESULT GetMediaType(int32_t position, record::MediaType* type) override;
    record::HRESULT DecideBufferSize(record::MemAllocator* allocator,
                                     record::ALLOCATOR_PROPERTIES* props) override;
    // What the timeline has done so far; any thread.
    record::AudioCaptureStatus status() const;
    // Waits until the sound up to stream time `end` has gone downstream, or until
    // `deadline`: the input hands sound over some tens of milliseconds after it was
    // heard, and a recording that stops keeps what was heard before the stop.
    void drainTo(record::REFERENCE_TIME end, std::chrono::steady_clock::time_point deadline);

  protected:
    record::HRESULT OnThreadCreate() override;
    record::HRESULT OnThreadStartPlay() override;
    record::HRESULT OnThreadDestroy() override;
    record::HRESULT FillBuffer(record::MediaSample* sample) override;

  private:
    void publishStatus(bool lost);

    AudioCaptureFilter* owner_;
    std::shared_ptr<AudioReader> reader_;
    record::AudioTimeline timeline_{kSampleRate, kJitter};
    std::unique_ptr<SoundStretcher> stretcher_;
    std::vector<uint8_t> placed_; // silence and sound placed but not yet delivered
    int64_t emitted_ = 0;         // samples delivered, for the sample times
    bool lossReported_ = false;
    // The status and the delivered count, read by other threads.
    mutable std::mutex mutex_;
    std::condition_variable drained_;
    int64_t delivered_ = 0; // samples gone downstream
    record::AudioCaptureStatus status_;
};

// The device is opened when the filter is made (when the program starts, and as the
// graph is built) and stays open for a while, so that a recording finds it delivering
// already: a freshly opened sound server stream can take over a second to bring its
// first sound, and a recording starts at the click without waiting for it.
class AudioCaptureFilter : public record::CSource, public record::IAudioCaptureStatus {
  public:
    explicit AudioCaptureFilter(AudioDevice device);
    ~AudioCaptureFilter() override;

    const AudioDevice& device() const { return device_; }
    // Lets the sound heard up to the stop reach the file before the stream ends.
    record::HRESULT Stop() override;
    record::HRESULT GetCaptureStatus(record::AudioCaptureStatus* status) override;

    AudioCapturePin* pin = nullptr; // owned

    // The open device behind this filter, or why it could not be opened.
    base::Result<std::shared_ptr<AudioReader>> reader();
    // Closes devices kept open between recordings (at the end of the program).
    static void closeIdleDevices();

  private:
    AudioDevice device_;
    base::Result<std::shared_ptr<AudioReader>> opened_{base::Error::system(EAGAIN, "not opened yet")};
};

} // namespace tavrin::media
