// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/pulse/PulseListener.h"

#include "base/Diagnostics.h"
#include "base/Os.h"
#include "record/ListenPacer.h"
#include "record/SoundChoice.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin::pulse {

namespace {

using Clock = std::chrono::steady_clock;

// The delay we aim for: the input hands over every 5 ms, the output keeps about 20 ms
// waiting, which rides out a busy machine's scheduling without being heard late.
constexpr uint32_t kFragmentMs = 5;
constexpr uint32_t kTargetMs = 20;
constexpr uint32_t kToleranceMs = 3;
// A backlog past this is a stall (the machine or the server stopped for a while):
// catching up by stretching would take seconds, so it is dropped.
constexpr uint32_t kCeilingMs = 80;

uint32_t framesIn(uint32_t ms, uint32_t rate) {
    return static_cast<uint32_t>(static_cast<uint64_t>(ms) * rate / 1000);
}

} // namespace

class PulseListener::Loop {
  public:
    explicit Loop(Options options) : options_(options) {
        mainloop_ = pa_mainloop_new();
        if (mainloop_)
            thread_ = std::thread([this] { run(); });
        else
            base::recordLog.error("listening unavailable: cannot make the sound server's event loop\n");
    }

    ~Loop() {
        if (!mainloop_)
            return;
        quit_ = true;
        pa_mainloop_wakeup(mainloop_);
        thread_.join();
        pa_mainloop_free(mainloop_);
    }

    void want(bool on, const std::string& source) {
        if (!mainloop_)
            return;
        {
            std::lock_guard lock(mutex_);
            wantedOn_ = on;
            wantedSource_ = source;
            ++wantedGeneration_;
        }
        pa_mainloop_wakeup(mainloop_);
    }

    Figures figures() const {
        std::lock_guard lock(mutex_);
        return figures_;
    }

  private:
    // --- The loop's thread from here on ----------------------------------------------

    void run() {
        // Each chunk must be passed on within a few milliseconds of its arrival.
        base::os::nameThisThread("tavrin-listen");
        base::os::raiseThreadPriorityForSound();
        while (!quit_) {
            takeWish();
            if (contextGone_)
                dropContext();
            if (wanted() && !context_ && Clock::now() >= retryAt_)
                connect();
            if (contextGone_)
                dropContext(); // refused at once: gone before the wait below is worked out
            if (wanted() && ready() && !recordStream_ && Clock::now() >= retryAt_)
                findInput();
            // Sleep until the server has something, a wish arrives, or the next try is due.
            int timeout = -1;
            if (wanted() && (!context_ || (ready() && !recordStream_))) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - Clock::now());
                timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000)) * 1000;
            }
            if (pa_mainloop_prepare(mainloop_, timeout) < 0 || pa_mainloop_poll(mainloop_) < 0 ||
                pa_mainloop_dispatch(mainloop_) < 0)
                break;
        }
        closeStreams();
        dropContext();
    }

    bool wanted() const { return on_ && source_ != record::kNoSoundItem; }
    bool ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

    void takeWish() {
        std::lock_guard lock(mutex_);
        if (wantedGeneration_ == seenGeneration_)
            return;
        seenGeneration_ = wantedGeneration_;
        const bool sourceChanged = wantedSource_ != source_;
        on_ = wantedOn_;
        source_ = wantedSource_;
        retryAt_ = Clock::now();
        if (!wanted()) {
            closeStreamsLocked();
            if (context_)
                contextGone_ = true; // no stream, no client: nothing of ours on the server
        } else if (sourceChanged) {
            closeStreamsLocked(); // found again, on the new input
            notFoundSaid_ = false;
        }
    }

    void connect() {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tavrin Capture");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "tavrin-capture");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "tavrin-capture");
        context_ = pa_context_new_with_proplist(pa_mainloop_get_api(mainloop_), "Tavrin Capture", props);
        pa_proplist_free(props);
        if (!context_)
            return unavailable("cannot make a client");
        pa_context_set_state_callback(context_, &Loop::onContextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            unavailable(pa_strerror(pa_context_errno(context_)));
    }

    // No server, or it went away: say so once, and try again every few seconds.
    void unavailable(const char* why) {
        if (!unavailableSaid_) {
            base::recordLog.warning(
                "listening unavailable: no sound server answers (%s); trying again every %g s\n", why,
                static_cast<double>(options_.retry.count()) / 1000);
            unavailableSaid_ = true;
        }
        contextGone_ = context_ != nullptr;
        retryAt_ = Clock::now() + options_.retry;
        std::lock_guard lock(mutex_);
        figures_.serverAnswers = false;
        figures_.playing = false;
    }

    void dropContext() {
        contextGone_ = false;
        if (!context_)
            return;
        closeStreams();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }

    static void onContextState(pa_context* context, void* self) {
        auto* loop = static_cast<Loop*>(self);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (loop->unavailableSaid_)
                base::recordLog.info("listening: the sound server answers again\n");
            loop->unavailableSaid_ = false;
            {
                std::lock_guard lock(loop->mutex_);
                loop->figures_.serverAnswers = true;
            }
            loop->retryAt_ = Clock::now();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // Torn down after the dispatch: the context is still in use here.
            loop->closeStreams();
            loop->unavailable(pa_strerror(pa_context_errno(context)));
            break;
        default:
            break;
        }
    }

    // Which of the server's inputs the recording would use: the one whose description is
    // the saved name, or the server's default input when none is saved.
    void findInput() {
        retryAt_ = Clock::now() + options_.retry; // unless it is found and opened
        pa_operation* op = nullptr;
        if (source_.empty())
            op = pa_context_get_source_info_by_name(context_, "@DEFAULT_SOURCE@", &Loop::onSourceInfo, this);
        else
            op = pa_context_get_source_info_list(context_, &Loop::onSourceInfo, this);
        searching_ = op != nullptr;
        matched_ = false;
        if (op)
            pa_operation_unref(op);
    }

    static void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
        auto* loop = static_cast<Loop*>(self);
        if (!loop->searching_ || loop->recordStream_)
            return;
        if (eol) {
            loop->searching_ = false;
            if (!loop->matched_ && !loop->notFoundSaid_) {
                base::recordLog.warning("listening: \"%s\" is not connected; looking again every %g s\n",
                                        loop->source_.c_str(),
                                        static_cast<double>(loop->options_.retry.count()) / 1000);
                loop->notFoundSaid_ = true;
            }
            return;
        }
        if (!info || (!loop->source_.empty() && (!info->description || loop->source_ != info->description)))
            return;
        loop->matched_ = true;
        loop->notFoundSaid_ = false;
        loop->openStreams(info->name, info->sample_spec);
    }

    void openStreams(const char* input, const pa_sample_spec& found) {
        pa_sample_spec format{};
        format.format = PA_SAMPLE_S16NE;
        format.rate = found.rate;
        format.channels = static_cast<uint8_t>(std::clamp<int>(found.channels, 1, 2));
        channels_ = format.channels;
        rate_ = format.rate;
        // Half a second without running dry takes a frame off the raised target again.
        pacer_ = record::ListenPacer({framesIn(kTargetMs, rate_), framesIn(kToleranceMs, rate_),
                                      framesIn(kCeilingMs, rate_), framesIn(options_.raiseMs, rate_),
                                      framesIn(options_.highestMs, rate_), rate_ / 2});
        pa_channel_map map;
        pa_channel_map_init_auto(&map, format.channels, PA_CHANNEL_MAP_DEFAULT);

        const uint32_t frameBytes = static_cast<uint32_t>(pa_frame_size(&format));
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Tavrin Capture");
        recordStream_ = pa_stream_new_with_proplist(context_, "Tavrin Capture", &format, &map, props);
        playStream_ = pa_stream_new_with_proplist(context_, "Tavrin Capture", &format, &map, props);
        pa_proplist_free(props);
        if (!recordStream_ || !playStream_) {
            base::recordLog.error("listening: cannot make the streams: %s\n",
                                  pa_strerror(pa_context_errno(context_)));
            return closeStreams();
        }
        pa_stream_set_state_callback(recordStream_, &Loop::onStreamState, this);
        pa_stream_set_state_callback(playStream_, &Loop::onStreamState, this);
        pa_stream_set_read_callback(recordStream_, &Loop::onRead, this);
        pa_stream_set_underflow_callback(playStream_, &Loop::onUnderflow, this);

        pa_buffer_attr in{};
        in.maxlength = static_cast<uint32_t>(-1);
        in.fragsize = framesIn(kFragmentMs, rate_) * frameBytes;
        in.tlength = in.prebuf = in.minreq = static_cast<uint32_t>(-1);
        pa_buffer_attr out{};
        out.maxlength = static_cast<uint32_t>(-1);
        out.tlength = framesIn(kTargetMs, rate_) * frameBytes;
        out.prebuf = framesIn(kTargetMs, rate_) * frameBytes; // starts (again) once on target
        out.minreq = framesIn(kFragmentMs, rate_) * frameBytes;
        out.fragsize = static_cast<uint32_t>(-1);
        // The input must not wander to another device when this one goes: the user chose it.
        const auto recordFlags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        const auto playFlags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(playStream_, nullptr, &out, playFlags, nullptr, nullptr) < 0 ||
            pa_stream_connect_record(recordStream_, input, &in, recordFlags) < 0) {
            base::recordLog.error("listening: cannot connect the streams: %s\n",
                                  pa_strerror(pa_context_errno(context_)));
            return closeStreams();
        }
        base::recordLog.info("listening to \"%s\" (%u Hz, %u channel%s) on the default output\n", input,
                             rate_, channels_, channels_ == 1 ? "" : "s");
        std::lock_guard lock(mutex_);
        figures_.input = input;
        ++figures_.streamsOpened;
    }

    static void onStreamState(pa_stream* stream, void* self) {
        auto* loop = static_cast<Loop*>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            // The input unplugged, or the server refused: both go, and are found again later.
            base::recordLog.warning("listening stopped: %s\n",
                                    pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
            loop->closeStreams();
            loop->retryAt_ = Clock::now() + loop->options_.retry;
            return;
        }
        if (state == PA_STREAM_READY && loop->recordStream_ && loop->playStream_ &&
            pa_stream_get_state(loop->recordStream_) == PA_STREAM_READY &&
            pa_stream_get_state(loop->playStream_) == PA_STREAM_READY) {
            std::lock_guard lock(loop->mutex_);
            loop->figures_.playing = true;
        }
    }

    static void onUnderflow(pa_stream*, void* self) {
        auto* loop = static_cast<Loop*>(self);
        loop->pacer_.underrun();
        std::lock_guard lock(loop->mutex_);
        ++loop->figures_.underruns;
    }

    static void onRead(pa_stream* stream, size_t, void* self) { static_cast<Loop*>(self)->read(stream); }

    void read(pa_stream* stream) {
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 &&
               bytes > 0) {
            if (data)
                play(static_cast<const int16_t*>(data), static_cast<uint32_t>(bytes / (2 * channels_)));
            pa_stream_drop(stream);
        }
    }

    void play(const int16_t* samples, uint32_t frames) {
        uint64_t written = 0;
        uint64_t dropped = 0;
        if (playStream_ && pa_stream_get_state(playStream_) == PA_STREAM_READY) {
            const uint32_t queued = waitingAtOutput();
            const uint32_t out = pacer_.outputFrames(frames, queued);
            const int16_t* send = samples;
            if (out != frames && out > 0) {
                stretched_.resize(static_cast<std::size_t>(out) * channels_);
                record::ListenPacer::stretch(samples, frames, stretched_.data(), out, channels_);
                send = stretched_.data();
            }
            if (out > 0 && pa_stream_write(playStream_, send, static_cast<std::size_t>(out) * channels_ * 2,
                                           nullptr, 0, PA_SEEK_RELATIVE) == 0)
                written = out;
            if (out == 0)
                dropped = frames;
        }
        std::lock_guard lock(mutex_);
        figures_.framesIn += frames;
        figures_.framesOut += written;
        figures_.framesDropped += dropped;
        figures_.targetMs =
            static_cast<uint32_t>((static_cast<uint64_t>(pacer_.target()) * 1000 + rate_ / 2) / rate_);
    }

    // Frames written to the output and not yet played, the device's own buffer included,
    // from the server's last account of it and the time since. The server is asked
    // again every few chunks: its own updates come about once a second, too rarely to
    // steer by.
    uint32_t waitingAtOutput() {
        const pa_timing_info* info = pa_stream_get_timing_info(playStream_);
        if (!info || info->write_index_corrupt || info->read_index_corrupt)
            return framesIn(kTargetMs, rate_); // nothing known yet: as if on target
        if (pa_timeval_age(&info->timestamp) > kFragmentMs * 2000 && !timingAsked_) {
            if (pa_operation* op = pa_stream_update_timing_info(playStream_, &Loop::onTiming, this)) {
                timingAsked_ = true;
                pa_operation_unref(op);
            }
        }
        const int64_t frameBytes = 2 * static_cast<int64_t>(channels_);
        int64_t frames = (info->write_index - info->read_index) / frameBytes;
        if (info->playing)
            frames -= static_cast<int64_t>(pa_timeval_age(&info->timestamp) * rate_ / 1'000'000);
        frames = std::max<int64_t>(frames, 0) + static_cast<int64_t>(info->sink_usec * rate_ / 1'000'000);
        return static_cast<uint32_t>(std::min<int64_t>(frames, UINT32_MAX));
    }

    static void onTiming(pa_stream*, int, void* self) { static_cast<Loop*>(self)->timingAsked_ = false; }

    void closeStreams() {
        std::lock_guard lock(mutex_);
        closeStreamsLocked();
    }

    void closeStreamsLocked() {
        searching_ = false;
        timingAsked_ = false;
        for (pa_stream** stream : {&recordStream_, &playStream_}) {
            if (!*stream)
                continue;
            pa_stream_set_state_callback(*stream, nullptr, nullptr);
            pa_stream_set_read_callback(*stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(*stream, nullptr, nullptr);
            if (pa_stream_get_state(*stream) == PA_STREAM_READY ||
                pa_stream_get_state(*stream) == PA_STREAM_CREATING)
                pa_stream_disconnect(*stream);
            pa_stream_unref(*stream);
            *stream = nullptr;
        }
        figures_.playing = false;
        figures_.input.clear();
    }

    Options options_;
    pa_mainloop* mainloop_ = nullptr;
    std::thread thread_;
    std::atomic<bool> quit_{false};

    // Between the GUI thread and the loop.
    mutable std::mutex mutex_;
    bool wantedOn_ = false;
    std::string wantedSource_;
    uint64_t wantedGeneration_ = 0;
    Figures figures_;

    // The loop's thread only.
    uint64_t seenGeneration_ = 0;
    bool on_ = false;
    std::string source_ = record::kNoSoundItem;
    Clock::time_point retryAt_{};
    pa_context* context_ = nullptr;
    bool contextGone_ = false;
    bool unavailableSaid_ = false;
    bool notFoundSaid_ = false;
    bool searching_ = false;
    bool matched_ = false;
    pa_stream* recordStream_ = nullptr;
    pa_stream* playStream_ = nullptr;
    uint32_t rate_ = 48000;
    uint32_t channels_ = 2;
    record::ListenPacer pacer_{{}};
    bool timingAsked_ = false;
    std::vector<int16_t> stretched_;
};

PulseListener::PulseListener(Options options) : loop_(std::make_unique<Loop>(options)) {}
PulseListener::~PulseListener() = default;

void PulseListener::listen(bool on, const std::string& source) {
    loop_->want(on, source);
}

PulseListener::Figures PulseListener::figures() const {
    return loop_->figures();
}

} // namespace tavrin::pulse
