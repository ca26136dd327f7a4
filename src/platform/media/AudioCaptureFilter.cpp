// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AudioCaptureFilter.h"

#include "base/Diagnostics.h"
#include "base/Worker.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/SoundInput.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace tavrin::media {

using namespace record;

namespace {

using Steady = std::chrono::steady_clock;

// Sound kept while nobody takes it (between recordings, or a graph that stalls).
constexpr std::size_t kMaxQueuedPackets = 500; // 10 s of 20 ms packets
// A device kept open for the next recording is closed after this long without one, so
// that the program does not hold a sound input open (and shown as in use) for ever.
constexpr auto kKeepWarm = std::chrono::minutes(10);
// A stopped recording's picture ends at most one frame after the stop (a frame of the
// slowest rate the source offers): its sound is awaited that far, and at most this long.
constexpr REFERENCE_TIME kStopMargin = UNITS / 15;
constexpr auto kStopDrainWait = std::chrono::milliseconds(400);

} // namespace

// Reads the device on a thread of its own, so that a device that stops answering
// cannot hold up the graph: the pin waits for packets with a timeout. A device that
// fails is opened again every second until it answers, so a sound server that
// comes back brings the sound back into a running recording.
struct AudioReader {
    struct Packet {
        std::vector<uint8_t> bytes;
        Steady::time_point arrival; // when it was read
    };

    AudioDevice device;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Packet> packets;
    bool finished = false;
    bool lost = false; // the device failed and is not back yet
    std::string error;
    int users = 0; // recordings reading it now
    Steady::time_point idleSince = Steady::now();
    std::unique_ptr<SoundInput> input;
    base::Worker worker;

    // The reader's thread. The reader outlives it: its owners join it, or keep a
    // reader whose thread does not answer until the process ends.
    void run(const base::WorkerControl& control) {
        std::vector<uint8_t> bytes;
        for (;;) {
            {
                std::unique_lock lk(mutex);
                if ((users == 0 && Steady::now() - idleSince > kKeepWarm) || control.stopRequested())
                    break;
                if (!input) {
                    if (cv.wait_for(lk, std::chrono::seconds(1), [&] { return control.stopRequested(); }))
                        break;
                    lk.unlock();
                    auto opened = openSoundInput(device);
                    lk.lock();
                    input = opened ? std::move(*opened) : nullptr;
                    if (input) {
                        lost = false;
                        base::recordLog.info("Sound input \"%s\" is back\n", device.description.c_str());
                    }
                    continue;
                }
            }
            bytes.clear();
            std::string failure;
            const SoundInput::Read got = input->read(bytes, failure);
            if (got == SoundInput::Read::NothingYet) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            std::lock_guard lk(mutex);
            if (got == SoundInput::Read::Failed) {
                lost = true;
                error = failure;
                input.reset();
                cv.notify_all();
                continue;
            }
            Packet p;
            p.arrival = Steady::now();
            p.bytes = bytes;
            packets.push_back(std::move(p));
            while (packets.size() > kMaxQueuedPackets)
                packets.pop_front();
            cv.notify_all();
        }
        input.reset(); // released on this thread, which used it
        std::lock_guard lk(mutex);
        finished = true;
        cv.notify_all();
    }

    // The one device kept open between recordings, or a newly opened one that takes its place.
    static base::Result<std::shared_ptr<AudioReader>> acquire(const AudioDevice& device) {
        auto& kept = keptOpen();
        std::lock_guard lk(kept.mutex);
        if (kept.reader && kept.reader->device.inputFormat == device.inputFormat &&
            kept.reader->device.deviceName == device.deviceName) {
            std::lock_guard rl(kept.reader->mutex);
            if (!kept.reader->finished) {
                kept.reader->idleSince = Steady::now();
                return kept.reader;
            }
        }
        kept.close();
        auto input = openSoundInput(device);
        auto reader = std::make_shared<AudioReader>();
        reader->device = device;
        if (input) {
            reader->input = std::move(*input);
        } else { // tried again every second, as a device lost while reading
            reader->lost = true;
            reader->error = input.error().text;
        }
        AudioReader* r = reader.get();
        // The worker's stop (when the last owner lets go) wakes the reader's own wait too.
        if (!r->worker.start(
                "tavrin-audio", [r](const base::WorkerControl& control) { r->run(control); },
                [r] { r->cv.notify_all(); })) {
            reader->input.reset();
            return base::Error::system(EAGAIN, "no thread could be started");
        }
        kept.reader = reader;
        return reader;
    }

    struct Kept {
        std::mutex mutex;
        std::shared_ptr<AudioReader> reader;
        ~Kept() {
            std::lock_guard lk(mutex);
            close();
        }
        // Stops the thread; one that does not answer within two seconds (a sound server
        // that hangs) is named and left running, its reader kept until the process ends.
        void close() {
            if (!reader || reader->worker.stop(std::chrono::seconds(2))) {
                reader.reset();
                return;
            }
            static auto* leftBehind = new std::vector<std::shared_ptr<AudioReader>>; // never freed: see above
            leftBehind->push_back(std::move(reader));
        }
    };
    static Kept& keptOpen() {
        static Kept kept;
        return kept;
    }
};

AudioCapturePin::AudioCapturePin(AudioCaptureFilter* filter)
    : CSourceStream(filter, "Capture", "tavrin-sound"), owner_(filter) {}

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
    auto reader = owner_->reader();
    if (!reader) {
        const std::string text = "The sound input \"" + owner_->device().description +
                                 "\" could not be opened (" + reader.error().text +
                                 "): check that it is connected, or choose another in Audio settings.";
        base::recordLog.error("%s\n", text.c_str());
        owner_->NotifyEvent(EC_ERRORABORT, base::Error::status(E_FAIL, text));
        return E_FAIL;
    }
    reader_ = *reader;
    std::lock_guard lk(reader_->mutex);
    ++reader_->users;
    lossReported_ = reader_->lost;
    if (reader_->lost) { // the picture is recorded all the same, with silence until the input answers
        base::recordLog.error(
            "The sound input \"%s\" could not be opened (%s): recording silence until "
            "it answers; check that it is connected, or choose another in Audio settings.\n",
            owner_->device().description.c_str(), reader_->error.c_str());
    }
    return S_OK;
}

HRESULT AudioCapturePin::OnThreadStartPlay() {
    timeline_ = AudioTimeline(kSampleRate, kJitter);
    placed_.clear();
    emitted_ = 0;
    {
        std::lock_guard lk(mutex_);
        delivered_ = 0;
    }
    stretcher_ = std::make_unique<SoundStretcher>();
    publishStatus(false);
    return S_OK;
}

HRESULT AudioCapturePin::OnThreadDestroy() {
    // The device stays open for a while, ready for the next recording.
    if (reader_) {
        std::lock_guard lk(reader_->mutex);
        --reader_->users;
        reader_->idleSince = Steady::now();
    }
    reader_.reset();
    return S_OK;
}

SoundStretcher::SoundStretcher() {
    // It only acts when told to stretch or squeeze.
    AVChannelLayout layout = AV_CHANNEL_LAYOUT_STEREO;
    constexpr int rate = AudioCapturePin::kSampleRate;
    if (swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_S16, rate, &layout, AV_SAMPLE_FMT_S16, rate, 0,
                            nullptr) < 0 ||
        av_opt_set_int(swr_, "flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(swr_) < 0) {
        swr_free(&swr_);
        base::recordLog.warning("The sound resampler could not be set up; drift is left uncorrected\n");
    }
}

SoundStretcher::~SoundStretcher() {
    swr_free(&swr_);
}

int64_t SoundStretcher::add(const uint8_t* data, int64_t samples, int64_t stretch,
                            std::vector<uint8_t>& out) {
    constexpr int block = AudioCapturePin::kBlockAlign;
    if (samples <= 0)
        return 0;
    const std::size_t at = out.size();
    if (!swr_) {
        out.insert(out.end(), data, data + samples * block);
        return samples;
    }
    const int64_t spread = std::max<int64_t>(samples + stretch, AudioCapturePin::kSampleRate / 50);
    if (stretch != 0 && swr_set_compensation(swr_, static_cast<int>(stretch), static_cast<int>(spread)) < 0)
        stretch = 0;
    const int capacity = static_cast<int>(samples + std::abs(stretch) + 256);
    out.resize(at + static_cast<std::size_t>(capacity) * block);
    uint8_t* to = out.data() + at;
    const int got = swr_convert(swr_, &to, capacity, &data, static_cast<int>(samples));
    out.resize(at + (got > 0 ? static_cast<std::size_t>(got) * block : 0));
    return std::max(got, 0);
}

void AudioCapturePin::publishStatus(bool lost) {
    std::lock_guard lk(mutex_);
    static_cast<AudioTimeline::Counts&>(status_) = timeline_.counts();
    status_.lost = lost;
    status_.sampleRate = kSampleRate;
}

AudioCaptureStatus AudioCapturePin::status() const {
    std::lock_guard lk(mutex_);
    return status_;
}

void AudioCapturePin::drainTo(REFERENCE_TIME end, Steady::time_point deadline) {
    const int64_t wanted = AudioTimeline(kSampleRate).samplesAt(end);
    std::unique_lock lk(mutex_);
    drained_.wait_until(lk, deadline, [&] { return delivered_ >= wanted; });
}

HRESULT AudioCapturePin::FillBuffer(MediaSample* sample) {
    if (!sample)
        return E_POINTER;
    {
        // The previous sample has been delivered by the time the next one is asked for.
        std::lock_guard lk(mutex_);
        delivered_ = emitted_;
    }
    drained_.notify_all();

    while (placed_.empty()) {
        if (owner_->state() != State_Running) {
            // Sound stays queued until the clock has started, so that it can be placed.
            if (stopping())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }

        // Nothing placed: wait a little for the device.
        AudioReader::Packet packet;
        bool got = false;
        bool lost = false;
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
            lost = reader_->lost;
            error = reader_->error;
        }
        if (got) {
            // The packet's read time on the graph's clock.
            const auto age = Steady::now() - packet.arrival;
            REFERENCE_TIME now = 0;
            owner_->StreamTime(now);
            const REFERENCE_TIME arrival =
                now - std::chrono::duration_cast<std::chrono::nanoseconds>(age).count() / 100;
            const int64_t samples = static_cast<int64_t>(packet.bytes.size() / kBlockAlign);
            const auto place = timeline_.place(samples, arrival);
            placed_.resize(placed_.size() + static_cast<std::size_t>(place.silence * kBlockAlign));
            timeline_.advance(stretcher_->add(packet.bytes.data() + place.skip * kBlockAlign,
                                              samples - place.skip, place.stretch, placed_));
            publishStatus(lost);
            continue;
        }
        if (lost && !lossReported_) {
            lossReported_ = true;
            base::recordLog.warning("Sound input lost (%s); recording silence until it is back\n",
                                    error.c_str());
        }
        // A source that has paused or gone: silence keeps the sound level with the clock.
        REFERENCE_TIME now = 0;
        if (SUCCEEDED(owner_->StreamTime(now)))
            placed_.resize(placed_.size() +
                           static_cast<std::size_t>(timeline_.silenceOwed(now) * kBlockAlign));
        publishStatus(lost || timeline_.inGap());
        if (placed_.empty() && stopping())
            break; // the graph is stopping: hand back an empty sample
    }

    // What does not fit stays placed for the next sample.
    uint8_t* dst = nullptr;
    sample->GetPointer(&dst);
    const auto bytes = std::min<std::size_t>(placed_.size(), sample->GetSize() / kBlockAlign * kBlockAlign);
    std::copy_n(placed_.data(), bytes, dst); // none at all when a stop comes before any sound
    placed_.erase(placed_.begin(), placed_.begin() + static_cast<std::ptrdiff_t>(bytes));
    sample->SetActualDataLength(static_cast<int32_t>(bytes));
    const REFERENCE_TIME start = emitted_ * UNITS / kSampleRate;
    emitted_ += static_cast<int64_t>(bytes) / kBlockAlign;
    const REFERENCE_TIME end = emitted_ * UNITS / kSampleRate;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(true);
    return S_OK;
}

AudioCaptureFilter::AudioCaptureFilter(AudioDevice device) : device_(std::move(device)) {
    pin = new AudioCapturePin(this);
    // Opened now, while the graph is built, so that it is delivering when the clock starts.
    opened_ = AudioReader::acquire(device_);
}

AudioCaptureFilter::~AudioCaptureFilter() {
    Stop();
    delete pin;
}

base::Result<std::shared_ptr<AudioReader>> AudioCaptureFilter::reader() {
    if (!opened_)
        opened_ = AudioReader::acquire(device_);
    return opened_;
}

HRESULT AudioCaptureFilter::Stop() {
    bool sounding = false;
    if (opened_) {
        std::lock_guard lk((*opened_)->mutex);
        sounding = !(*opened_)->lost && !(*opened_)->finished;
    }
    REFERENCE_TIME now = 0;
    if (state() == State_Running && sounding && pin->ThreadExists() && SUCCEEDED(StreamTime(now)))
        pin->drainTo(now + kStopMargin, Steady::now() + kStopDrainWait);
    return CSource::Stop();
}

HRESULT AudioCaptureFilter::GetCaptureStatus(AudioCaptureStatus* status) {
    if (!status)
        return E_POINTER;
    *status = pin->status();
    return S_OK;
}

void AudioCaptureFilter::closeIdleDevices() {
    auto& kept = AudioReader::keptOpen();
    std::lock_guard lk(kept.mutex);
    kept.close();
}

} // namespace tavrin::media
