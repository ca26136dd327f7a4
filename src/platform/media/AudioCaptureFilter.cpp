#include "platform/media/AudioCaptureFilter.h"

#include "app/Diagnostics.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/FfmpegPlatform.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace tavrin::media {

using namespace record;

// Reads the device on a thread of its own, so that a device that stops answering
// cannot hold up the graph: the pin waits for packets with a timeout, and if the
// read never returns the thread is left to finish on its own.
struct AudioReader {
    struct Packet {
        std::vector<uint8_t> bytes;
        REFERENCE_TIME arrival = 0; // clock time when it was read
    };

    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Packet> packets;
    bool stop = false;
    bool finished = false;
    bool failed = false;
    std::string error;
    AVFormatContext* input = nullptr;
    std::thread thread;

    static void run(std::shared_ptr<AudioReader> self, std::shared_ptr<ReferenceClock> clock) {
        AVPacket* packet = av_packet_alloc();
        for (;;) {
            {
                std::lock_guard lk(self->mutex);
                if (self->stop)
                    break;
            }
            const int err = packet ? av_read_frame(self->input, packet) : AVERROR(ENOMEM);
            if (err == AVERROR(EAGAIN))
                continue;
            std::lock_guard lk(self->mutex);
            if (err < 0) {
                self->failed = true;
                self->error = avErrorText(err);
                break;
            }
            Packet p;
            p.arrival = clock ? clock->GetTime() : 0;
            p.bytes.assign(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
            self->packets.push_back(std::move(p));
            // Nobody is taking them: keep at most a few seconds.
            while (self->packets.size() > 200)
                self->packets.pop_front();
            self->cv.notify_all();
        }
        av_packet_free(&packet);
        avformat_close_input(&self->input);
        std::lock_guard lk(self->mutex);
        self->finished = true;
        self->cv.notify_all();
    }
};

AudioCapturePin::AudioCapturePin(AudioCaptureFilter* filter)
    : CSourceStream(filter, "Capture"), owner_(filter) {}

AudioCapturePin::~AudioCapturePin() {
    stopReader();
}

HRESULT AudioCapturePin::GetMediaType(int32_t position, MediaType* type) {
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    if (!type)
        return E_POINTER;
    *type = pcmType(kSampleRate, kChannels);
    return S_OK;
}

HRESULT AudioCapturePin::CheckMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    const MediaType mine = pcmType(kSampleRate, kChannels);
    return type->majortype == mine.majortype && type->subtype == mine.subtype && type->format == mine.format
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioCapturePin::DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
    if (!allocator || !props)
        return E_POINTER;
    props->cBuffers = std::max(props->cBuffers, 4);
    props->cbBuffer = std::max<int32_t>(props->cbBuffer, kSampleRate / 4 * kBlockAlign); // 250 ms
    props->cbAlign = std::max(props->cbAlign, kBlockAlign);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= kBlockAlign ? S_OK : E_FAIL;
}

HRESULT AudioCapturePin::OnThreadCreate() {
    ensureDevicesRegistered();
    const AudioDevice& device = owner_->device();
    const AVInputFormat* format = av_find_input_format(device.inputFormat.c_str());
    if (!format)
        return E_FAIL;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", kSampleRate, 0);
    av_dict_set_int(&options, "channels", kChannels, 0);
    if (device.inputFormat == "pulse") {
        // 20 ms packets: the clock places each one, so small ones keep it close.
        av_dict_set_int(&options, "fragment_size", kSampleRate / 50 * kBlockAlign, 0);
        av_dict_set(&options, "name", "Tavrin Capture", 0);
        av_dict_set(&options, "stream_name", "Recording", 0);
    }
    auto reader = std::make_shared<AudioReader>();
    const int err = avformat_open_input(&reader->input, device.deviceName.c_str(), format, &options);
    av_dict_free(&options);
    if (err < 0) {
        const std::string text =
            "The sound input \"" + device.description + "\" could not be opened (" + avErrorText(err) + ").";
        app::debugPrintf("%s\n", text.c_str());
        owner_->NotifyEvent(EC_ERRORABORT, E_FAIL, text);
        return E_FAIL;
    }
    std::shared_ptr<ReferenceClock> clock = owner_->syncSource();
    if (!clock)
        clock = std::make_shared<SystemReferenceClock>();
    reader_ = reader;
    reader_->thread = std::thread(&AudioReader::run, reader, clock);
    return S_OK;
}

HRESULT AudioCapturePin::OnThreadStartPlay() {
    timeline_ = AudioTimeline(kSampleRate);
    pendingSilence_ = 0;
    pending_.clear();
    pendingOffset_ = 0;
    emitted_ = 0;
    failureReported_ = false;
    return S_OK;
}

HRESULT AudioCapturePin::OnThreadDestroy() {
    stopReader();
    return S_OK;
}

void AudioCapturePin::stopReader() {
    if (!reader_)
        return;
    std::shared_ptr<AudioReader> reader = std::move(reader_);
    std::unique_lock lk(reader->mutex);
    reader->stop = true;
    const bool done = reader->cv.wait_for(lk, std::chrono::seconds(2), [&] { return reader->finished; });
    lk.unlock();
    if (done) {
        reader->thread.join();
    } else {
        app::debugPrintf("The sound input does not answer; leaving its reader behind\n");
        reader->thread.detach();
    }
}

HRESULT AudioCapturePin::FillBuffer(MediaSample* sample) {
    if (!sample)
        return E_POINTER;
    uint8_t* dst = nullptr;
    sample->GetPointer(&dst);
    const int64_t capacity = sample->GetSize() / kBlockAlign;
    int64_t filled = 0;

    for (;;) {
        // What has been placed goes out first: silence, then sound.
        if (pendingSilence_ > 0) {
            const int64_t n = std::min(pendingSilence_, capacity - filled);
            std::memset(dst + filled * kBlockAlign, 0, static_cast<std::size_t>(n * kBlockAlign));
            filled += n;
            pendingSilence_ -= n;
        }
        if (pendingSilence_ == 0 && pendingOffset_ < pending_.size()) {
            const int64_t n =
                std::min<int64_t>((pending_.size() - pendingOffset_) / kBlockAlign, capacity - filled);
            std::memcpy(dst + filled * kBlockAlign, pending_.data() + pendingOffset_,
                        static_cast<std::size_t>(n * kBlockAlign));
            filled += n;
            pendingOffset_ += static_cast<std::size_t>(n * kBlockAlign);
        }
        if (filled > 0)
            break;

        // Nothing placed: wait a little for the device.
        AudioReader::Packet packet;
        bool got = false;
        bool failed = false;
        std::string error;
        if (reader_) {
            std::unique_lock lk(reader_->mutex);
            reader_->cv.wait_for(lk, std::chrono::milliseconds(20),
                                 [&] { return !reader_->packets.empty() || reader_->finished; });
            if (!reader_->packets.empty()) {
                packet = std::move(reader_->packets.front());
                reader_->packets.pop_front();
                got = true;
            }
            failed = reader_->failed;
            error = reader_->error;
        }
        if (got) {
            if (owner_->state() != State_Running)
                continue; // captured before the recording started
            const int64_t samples = static_cast<int64_t>(packet.bytes.size() / kBlockAlign);
            const auto place = timeline_.place(samples, packet.arrival - owner_->startTime());
            pendingSilence_ += place.silence;
            pending_ = std::move(packet.bytes);
            pendingOffset_ = static_cast<std::size_t>(place.skip * kBlockAlign);
            continue;
        }
        if (failed && !failureReported_) {
            failureReported_ = true;
            app::debugPrintf("Sound input lost (%s); recording silence\n", error.c_str());
        }
        // A source that has paused or gone: silence keeps the sound level with the clock.
        if (owner_->state() == State_Running) {
            REFERENCE_TIME now = 0;
            if (SUCCEEDED(owner_->StreamTime(now)))
                pendingSilence_ += timeline_.silenceOwed(now);
            if (pendingSilence_ > 0)
                continue;
        }
        Command command;
        if (CheckRequest(&command))
            break; // the graph is stopping: hand back an empty sample
    }

    sample->SetActualDataLength(static_cast<int32_t>(filled * kBlockAlign));
    const REFERENCE_TIME start = emitted_ * UNITS / kSampleRate;
    emitted_ += filled;
    const REFERENCE_TIME end = emitted_ * UNITS / kSampleRate;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(true);
    return S_OK;
}

AudioCaptureFilter::AudioCaptureFilter(AudioDevice device)
    : CSource(CLSID_AudioCapture), device_(std::move(device)) {
    pin = new AudioCapturePin(this);
}

AudioCaptureFilter::~AudioCaptureFilter() {
    Stop();
    delete pin;
}

} // namespace tavrin::media
