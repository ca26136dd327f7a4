// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/pulse/DelayMeter.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <thread>

namespace tavrin::testing {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// libstdc++'s steady clock is CLOCK_MONOTONIC, the clock libpulse times with.
int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double phaseOf(uint64_t frame, double hz, uint32_t rate) {
    // Whole cycles taken out first, so that the phase keeps its precision over hours.
    const double cycles = static_cast<double>(frame) * hz / rate;
    return (cycles - std::floor(cycles)) * kTwoPi;
}

uint32_t framesOf(std::chrono::milliseconds d, uint32_t rate) {
    return static_cast<uint32_t>(static_cast<uint64_t>(d.count()) * rate / 1000);
}

} // namespace

TestSignal TestSignal::at(uint32_t rate, std::chrono::milliseconds period) {
    TestSignal s;
    s.rate = rate;
    // Well inside the pass band of any resampler on the way.
    s.markerHz = std::min(6000.0, rate / 4.0);
    s.markerFrames = framesOf(std::chrono::milliseconds(5), rate);
    s.periodFrames = framesOf(period, rate);
    s.leadInFrames = framesOf(std::chrono::milliseconds(300), rate);
    return s;
}

void SignalSource::fill(int16_t* out, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i, ++frame_) {
        double v = signal_.toneAmplitude * std::sin(phaseOf(frame_, signal_.toneHz, signal_.rate));
        if (frame_ >= signal_.leadInFrames) {
            const uint64_t k = (frame_ - signal_.leadInFrames) % signal_.periodFrames;
            if (k == 0) {
                // Decided once a period: a marker is never cut short.
                markerNow_ = markersOn_;
                markersSent_ += markerNow_ ? 1 : 0;
            }
            if (markerNow_ && k < signal_.markerFrames)
                v += signal_.markerAmplitude * std::sin(phaseOf(k, signal_.markerHz, signal_.rate));
        }
        out[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768l, 32767l));
    }
}

SignalTrack::SignalTrack(const TestSignal& signal)
    : signal_(signal), box_(std::max<uint32_t>(8, signal.rate / 1000)), delay_(4 * box_),
      toneStep_(2 * std::cos(kTwoPi * signal.toneHz / signal.rate)), markerHz_(signal.markerHz), boxRe_(box_),
      boxIm_(box_), ring_(delay_ + 4) {}

void SignalTrack::feed(const int16_t* samples, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i, ++head_) {
        const int16_t x = samples[i];
        ring_[head_ % ring_.size()] = x;
        peak_ = std::max(peak_, std::abs(static_cast<int>(x)));
        findMarker(x);
        if (head_ >= delay_ + 2)
            findBreak(head_ - delay_);
    }
}

// The marker's frequency, shifted to zero and averaged over a millisecond: its
// level rises from nothing to the marker's amplitude over that millisecond, and
// the tone, far from it, adds only a few percent.
void SignalTrack::findMarker(double x) {
    const double ph = phaseOf(head_, markerHz_, signal_.rate);
    const double re = x * std::cos(ph);
    const double im = -x * std::sin(ph);
    const std::size_t slot = head_ % box_;
    sumRe_ += re - boxRe_[slot];
    sumIm_ += im - boxIm_[slot];
    boxRe_[slot] = re;
    boxIm_[slot] = im;
    if (slot == box_ - 1) {
        // Summed afresh now and then, so that rounding does not pile up over hours.
        sumRe_ = 0;
        sumIm_ = 0;
        for (uint32_t k = 0; k < box_; ++k) {
            sumRe_ += boxRe_[k];
            sumIm_ += boxIm_[k];
        }
    }
    const double level = 2 * std::hypot(sumRe_, sumIm_) / box_;
    const double threshold = signal_.markerAmplitude / 4;
    if (lastLevel_ < threshold && level >= threshold) {
        // Where the level crossed, between the two frames, less the quarter of the
        // average it takes a full-level marker to get there.
        const double crossing =
            static_cast<double>(head_ - 1) + (threshold - lastLevel_) / (level - lastLevel_);
        const double start = crossing - box_ / 4.0 + 1;
        if (markers_.empty() || start - markers_.back() >= signal_.periodFrames / 2.0)
            markers_.push_back(start);
    }
    lastLevel_ = level;
}

bool SignalTrack::nearMarker(uint64_t at) const {
    const double x = static_cast<double>(at);
    for (auto it = markers_.rbegin(); it != markers_.rend(); ++it) {
        if (*it + signal_.markerFrames + 2.0 * box_ < x)
            break;
        if (*it - 2.0 * box_ <= x)
            return true;
    }
    return false;
}

void SignalTrack::addBreak(uint64_t at) {
    const uint64_t merge = signal_.rate / 100; // 10 ms
    if (lastBreakEvent_ == kNever || at - lastBreakEvent_ > merge)
        breaks_.push_back(at);
    lastBreakEvent_ = at;
}

// Runs `delay_` frames behind the marker search, so that every marker that could
// touch frame `at` has been found by then.
void SignalTrack::findBreak(uint64_t at) {
    const std::size_t n = ring_.size();
    const double x0 = ring_[at % n];
    const double x1 = ring_[(at - 1) % n];
    const double x2 = ring_[(at - 2) % n];
    const bool loud = std::abs(x0) >= signal_.toneAmplitude / 4;
    if (toneStartedAt_ == kNever) {
        if (loud) {
            toneStartedAt_ = at;
            lastLoud_ = at;
        }
        return;
    }
    if (loud)
        lastLoud_ = at;
    // Wherever the tone started in its cycle, the first few milliseconds are not a break.
    if (at < toneStartedAt_ + signal_.rate / 200)
        return;
    // Quiet for longer than one and a half of the tone's cycles: a silence.
    if (at - lastLoud_ > static_cast<uint64_t>(1.5 * signal_.rate / signal_.toneHz)) {
        addBreak(at);
        return;
    }
    // A pure tone follows x[n] = 2 cos(w) x[n-1] - x[n-2]; a cut or a jump in it
    // leaves a residual of the order of its amplitude, dropping or repeating one
    // sample (how a listener may follow a drifting clock) less than a tenth of it.
    const double residual = x0 - toneStep_ * x1 + x2;
    if (std::abs(residual) > 0.3 * signal_.toneAmplitude && !nearMarker(at))
        addBreak(at);
}

double DelayMeter::Result::percentile(double p) const {
    if (delaysMs.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::vector<double> sorted = delaysMs;
    std::sort(sorted.begin(), sorted.end());
    const double n = static_cast<double>(sorted.size());
    const auto rank = static_cast<std::size_t>(std::clamp(std::ceil(p / 100 * n), 1.0, n));
    return sorted[rank - 1];
}

double DelayMeter::Result::max() const {
    if (delaysMs.empty())
        return std::numeric_limits<double>::quiet_NaN();
    return *std::max_element(delaysMs.begin(), delaysMs.end());
}

class DelayMeter::Impl {
  public:
    struct Recorder {
        pa_stream* stream = nullptr;
        std::unique_ptr<SignalTrack> track;
        // The frame that began each chunk and when it was captured, on CLOCK_MONOTONIC (µs).
        std::vector<std::pair<uint64_t, int64_t>> stamps;
        int64_t timingAskedAt = 0;
        bool timingArrived = false; // the latency is a guess until the first update
        std::size_t markersTaken = 0;
        std::size_t breaksTaken = 0;
        Impl* impl = nullptr;
    };

    explicit Impl(Options o) : options(std::move(o)) {
        in.impl = this;
        out.impl = this;
    }
    ~Impl() { teardown(); }

    bool start();
    Result collect(bool final);
    void teardown();

    // When frame `frame` of a recording was captured (µs, CLOCK_MONOTONIC): the
    // median over the chunks around it, which smooths the jumps of the timing updates.
    double timeOf(const Recorder& r, double frame) const;
    bool fail(const std::string& why) {
        failure = why;
        return false;
    }
    // Waits with the loop locked, letting its thread run in between.
    template <typename Done> bool waitFor(Done done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pa_threaded_mainloop_unlock(loop);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            pa_threaded_mainloop_lock(loop);
        }
        return true;
    }
    bool contextGone() const {
        const pa_context_state_t s = pa_context_get_state(context);
        return s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED;
    }
    pa_stream* openRecorder(Recorder& r, const std::string& sink);

    static void onRead(pa_stream* s, size_t, void* userdata);
    static void requestTiming(pa_stream* s, Recorder& r, int64_t now);
    static void onWrite(pa_stream* s, size_t bytes, void* userdata);

    Options options;
    std::string failure;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* player = nullptr;
    Recorder in, out;
    TestSignal signal;
    std::unique_ptr<SignalSource> source;
    uint64_t sentTaken = 0;
    uint64_t underflows = 0;
    uint64_t underflowsTaken = 0;
    std::ptrdiff_t lastPairedInput = -1;
    int64_t startUs = 0;
    bool running = false;
};

void DelayMeter::Impl::onRead(pa_stream* s, size_t, void* userdata) {
    auto* r = static_cast<Recorder*>(userdata);
    for (;;) {
        // The latency of the oldest frame not yet read: the frame about to be peeked.
        pa_usec_t latency = 0;
        int negative = 0;
        const bool timed = pa_stream_get_latency(s, &latency, &negative) == 0;
        const int64_t now = monotonicUs();
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            return;
        requestTiming(s, *r, now);
        const std::size_t frames = bytes / sizeof(int16_t);
        const uint64_t first = r->track->frames();
        if (timed && r->timingArrived) {
            const auto l = static_cast<int64_t>(latency);
            r->stamps.emplace_back(first, now - (negative ? -l : l));
        }
        if (data != nullptr) {
            r->track->feed(static_cast<const int16_t*>(data), frames);
        } else {
            // A hole in the recording: silence in its place keeps the frames counting.
            const std::vector<int16_t> silence(frames, 0);
            r->track->feed(silence.data(), frames);
        }
        pa_stream_drop(s);
    }
}

// A monitor's recording gets no timing update on its own after the first, even with
// PA_STREAM_AUTO_TIMING_UPDATE, and its interpolated latency then drifts from what the
// server says: it is asked for one every 50 ms.
void DelayMeter::Impl::requestTiming(pa_stream* s, Recorder& r, int64_t now) {
    if (now - r.timingAskedAt < 50'000)
        return;
    r.timingAskedAt = now;
    auto onUpdated = [](pa_stream*, int success, void* userdata) {
        if (success != 0)
            static_cast<Recorder*>(userdata)->timingArrived = true;
    };
    if (pa_operation* op = pa_stream_update_timing_info(s, onUpdated, &r))
        pa_operation_unref(op);
}

void DelayMeter::Impl::onWrite(pa_stream* s, size_t bytes, void* userdata) {
    auto* impl = static_cast<Impl*>(userdata);
    while (bytes >= sizeof(int16_t)) {
        void* buffer = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(s, &buffer, &size) < 0 || buffer == nullptr)
            return;
        const std::size_t frames = std::min(size, bytes) / sizeof(int16_t);
        impl->source->fill(static_cast<int16_t*>(buffer), frames);
        pa_stream_write(s, buffer, frames * sizeof(int16_t), nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= frames * sizeof(int16_t);
    }
}

pa_stream* DelayMeter::Impl::openRecorder(Recorder& r, const std::string& sink) {
    const pa_sample_spec format{PA_SAMPLE_S16LE, signal.rate, 1};
    pa_stream* s = pa_stream_new(context, "Tavrin delay meter recording", &format, nullptr);
    if (s == nullptr)
        return nullptr;
    r.track = std::make_unique<SignalTrack>(signal);
    pa_stream_set_read_callback(s, &Impl::onRead, &r);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = framesOf(options.fragment, signal.rate) * sizeof(int16_t);
    const std::string monitor = sink + ".monitor";
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    r.stream = s;
    if (pa_stream_connect_record(s, monitor.c_str(), &attr, flags) < 0)
        return nullptr;
    return s;
}

bool DelayMeter::Impl::start() {
    loop = pa_threaded_mainloop_new();
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tavrin delay meter");
    if (context == nullptr)
        return fail("no sound server context");
    // Never start a server of its own: the meter measures the one it was given.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(std::string("no sound server: ") + pa_strerror(pa_context_errno(context)));
    pa_threaded_mainloop_start(loop);
    pa_threaded_mainloop_lock(loop);
    struct Unlock {
        pa_threaded_mainloop* loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    } unlock{loop};

    if (!waitFor([&] { return pa_context_get_state(context) == PA_CONTEXT_READY || contextGone(); },
                 options.connectTimeout) ||
        contextGone())
        return fail("the sound server did not answer");

    // The input sink's rate, so that nothing on the meter's side resamples.
    struct SinkQuery {
        uint32_t rate = 0;
        bool done = false;
    } inputInfo, speakersInfo;
    auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* q = static_cast<SinkQuery*>(userdata);
        if (eol == 0 && info != nullptr)
            q->rate = info->sample_spec.rate;
        if (eol != 0)
            q->done = true;
    };
    pa_operation_unref(
        pa_context_get_sink_info_by_name(context, options.inputSink.c_str(), onSink, &inputInfo));
    pa_operation_unref(
        pa_context_get_sink_info_by_name(context, options.speakersSink.c_str(), onSink, &speakersInfo));
    waitFor([&] { return (inputInfo.done && speakersInfo.done) || contextGone(); }, options.connectTimeout);
    if (inputInfo.rate == 0)
        return fail("no sink " + options.inputSink);
    if (speakersInfo.rate == 0)
        return fail("no sink " + options.speakersSink);
    signal = TestSignal::at(inputInfo.rate, options.markerPeriod);
    source = std::make_unique<SignalSource>(signal);

    // Both recordings run, and are timed, before the first sound is played.
    if (openRecorder(in, options.inputSink) == nullptr || openRecorder(out, options.speakersSink) == nullptr)
        return fail(std::string("cannot record: ") + pa_strerror(pa_context_errno(context)));
    auto ready = [](pa_stream* s) { return pa_stream_get_state(s) == PA_STREAM_READY; };
    auto streamFailed = [](pa_stream* s) {
        return pa_stream_get_state(s) == PA_STREAM_FAILED || pa_stream_get_state(s) == PA_STREAM_TERMINATED;
    };
    if (!waitFor(
            [&] {
                return (!in.stamps.empty() && !out.stamps.empty()) || streamFailed(in.stream) ||
                       streamFailed(out.stream) || contextGone();
            },
            options.connectTimeout) ||
        !ready(in.stream) || !ready(out.stream))
        return fail("the recordings of the two sinks' monitors did not start");

    const pa_sample_spec format{PA_SAMPLE_S16LE, signal.rate, 1};
    player = pa_stream_new(context, "Tavrin delay meter signal", &format, nullptr);
    if (player == nullptr)
        return fail("cannot play");
    pa_stream_set_write_callback(player, &Impl::onWrite, this);
    pa_stream_set_underflow_callback(
        player, [](pa_stream*, void* userdata) { ++static_cast<Impl*>(userdata)->underflows; }, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    // Room for a busy machine: what the player keeps queued is not part of the delay
    // measured, and without PA_STREAM_ADJUST_LATENCY it leaves the sink's own latency
    // to whatever reads its monitor.
    attr.tlength = framesOf(std::chrono::milliseconds(250), signal.rate) * sizeof(int16_t);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    pa_cvolume volume;
    pa_cvolume_set(&volume, 1, PA_VOLUME_NORM);
    const auto flags = PA_STREAM_START_UNMUTED;
    if (pa_stream_connect_playback(player, options.inputSink.c_str(), &attr, flags, &volume, nullptr) < 0)
        return fail(std::string("cannot play: ") + pa_strerror(pa_context_errno(context)));
    if (!waitFor([&] { return ready(player) || streamFailed(player) || contextGone(); },
                 options.connectTimeout) ||
        !ready(player))
        return fail("the signal did not start playing");
    startUs = monotonicUs();
    running = true;
    return true;
}

double DelayMeter::Impl::timeOf(const Recorder& r, double frame) const {
    const auto& st = r.stamps;
    if (st.empty())
        return std::numeric_limits<double>::quiet_NaN();
    const double usPerFrame = 1e6 / signal.rate;
    const auto at = std::lower_bound(st.begin(), st.end(), frame, [](const auto& s, double f) {
        return static_cast<double>(s.first) < f;
    });
    const auto from = at - std::min<std::ptrdiff_t>(at - st.begin(), 32);
    const auto to = at + std::min<std::ptrdiff_t>(st.end() - at, 32);
    std::vector<double> offsets;
    for (auto it = from; it != to; ++it)
        offsets.push_back(static_cast<double>(it->second) - static_cast<double>(it->first) * usPerFrame);
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    return offsets[offsets.size() / 2] + frame * usPerFrame;
}

DelayMeter::Result DelayMeter::Impl::collect(bool final) {
    Result result;
    if (!running) {
        result.failure = failure.empty() ? "not started" : failure;
        return result;
    }
    pa_threaded_mainloop_lock(loop);
    if (contextGone())
        result.failure = "the sound server went away";
    result.markersSent = source->markersSent() - sentTaken;
    sentTaken = source->markersSent();

    const auto& inMarks = in.track->markers();
    const auto& outMarks = out.track->markers();
    std::vector<double> inTimes;
    inTimes.reserve(inMarks.size());
    for (double f : inMarks)
        inTimes.push_back(timeOf(in, f));
    // The input is read up to here; an output marker after it may still find its
    // input marker in a chunk not yet delivered.
    const double inputKnownUntil = in.stamps.empty() ? 0 : static_cast<double>(in.stamps.back().second);
    const double tolerance = 2000; // µs: what the two recordings' timing may disagree by
    const double maxDelay = static_cast<double>(options.maxDelay.count()) * 1000;
    std::size_t j = out.markersTaken;
    for (; j < outMarks.size(); ++j) {
        const double t = timeOf(out, outMarks[j]);
        if (!final && t > inputKnownUntil)
            break;
        // The last input marker before this one at the output, if no earlier output marker took it.
        const auto after = std::upper_bound(inTimes.begin(), inTimes.end(), t + tolerance);
        const std::ptrdiff_t i = (after - inTimes.begin()) - 1;
        if (i < 0 || i <= lastPairedInput || t - inTimes[static_cast<std::size_t>(i)] > maxDelay)
            continue;
        lastPairedInput = i;
        result.delaysMs.push_back((t - inTimes[static_cast<std::size_t>(i)]) / 1000);
    }
    result.markersAtOutput = j - out.markersTaken;
    out.markersTaken = j;
    result.markersAtInput = inMarks.size() - in.markersTaken;
    in.markersTaken = inMarks.size();

    const auto& outBreaks = out.track->breaks();
    for (std::size_t b = out.breaksTaken; b < outBreaks.size(); ++b)
        result.breakTimesMs.push_back((timeOf(out, static_cast<double>(outBreaks[b])) - startUs) / 1000);
    result.breaks = outBreaks.size() - out.breaksTaken;
    out.breaksTaken = outBreaks.size();
    result.inputBreaks = in.track->breaks().size() - in.breaksTaken;
    in.breaksTaken = in.track->breaks().size();
    result.outputPeak = out.track->takePeak();
    result.playerUnderflows = underflows - underflowsTaken;
    underflowsTaken = underflows;
    pa_threaded_mainloop_unlock(loop);
    return result;
}

void DelayMeter::Impl::teardown() {
    if (loop == nullptr)
        return;
    pa_threaded_mainloop_lock(loop);
    for (pa_stream** s : {&player, &in.stream, &out.stream}) {
        if (*s != nullptr) {
            pa_stream_set_read_callback(*s, nullptr, nullptr);
            pa_stream_set_write_callback(*s, nullptr, nullptr);
            pa_stream_set_underflow_callback(*s, nullptr, nullptr);
            pa_stream_disconnect(*s);
            pa_stream_unref(*s);
            *s = nullptr;
        }
    }
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
    running = false;
}

DelayMeter::DelayMeter(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DelayMeter::~DelayMeter() = default;

bool DelayMeter::start() {
    if (impl_->loop != nullptr)
        return impl_->running;
    if (impl_->start())
        return true;
    impl_->teardown();
    return false;
}

const std::string& DelayMeter::failure() const {
    return impl_->failure;
}

DelayMeter::Result DelayMeter::collect() {
    return impl_->collect(false);
}

DelayMeter::Result DelayMeter::stop() {
    if (!impl_->running)
        return impl_->collect(true);
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->source->setMarkers(false);
    pa_threaded_mainloop_unlock(impl_->loop);
    // The last marker's way: the player's buffer, the path, the recording's fragment.
    std::this_thread::sleep_for(impl_->options.maxDelay + impl_->options.markerPeriod +
                                std::chrono::milliseconds(300));
    Result r = impl_->collect(true);
    impl_->teardown();
    return r;
}

DelayMeter::Result DelayMeter::measure(std::chrono::milliseconds duration) {
    if (!start()) {
        Result r;
        r.failure = failure();
        return r;
    }
    std::this_thread::sleep_for(duration);
    return stop();
}

} // namespace tavrin::testing
