// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::testing {

// The sound the meter plays: a steady tone with a short burst at a much higher
// frequency (a marker) at the start of every period, added to the tone so that the
// tone itself never stops.
struct TestSignal {
    uint32_t rate = 48000;
    double toneHz = 440;
    double toneAmplitude = 8192; // a quarter of full scale
    double markerHz = 6000;
    double markerAmplitude = 8192;
    uint32_t markerFrames = 240;   // 5 ms at 48 kHz
    uint32_t periodFrames = 9600;  // 200 ms at 48 kHz
    uint32_t leadInFrames = 14400; // tone alone first, while the path settles
    // The same signal at another rate, with the same durations in time.
    static TestSignal at(uint32_t rate, std::chrono::milliseconds period);
};

// Writes the test signal, mono, frame after frame.
class SignalSource {
  public:
    explicit SignalSource(const TestSignal& signal) : signal_(signal) {}
    void fill(int16_t* out, std::size_t frames);
    // While off, periods start without a marker (the tone goes on).
    void setMarkers(bool on) { markersOn_ = on; }
    uint64_t markersSent() const { return markersSent_; }
    uint64_t frames() const { return frame_; }

  private:
    TestSignal signal_;
    uint64_t frame_ = 0;
    bool markersOn_ = true;
    bool markerNow_ = false;
    uint64_t markersSent_ = 0;
};

// Follows one stream of the test signal as it arrives: where each marker starts
// (in frames of that stream) and where the tone breaks after it has started: a
// stretch of silence, or a jump in the waveform that no pure tone makes.
class SignalTrack {
  public:
    explicit SignalTrack(const TestSignal& signal);
    void feed(const int16_t* samples, std::size_t frames);
    // Where each marker began, estimated to a fraction of a frame.
    const std::vector<double>& markers() const { return markers_; }
    // Where each break began; breaks closer than 10 ms count once.
    const std::vector<uint64_t>& breaks() const { return breaks_; }
    bool toneStarted() const { return toneStartedAt_ != kNever; }
    int peak() const { return peak_; }
    // The loudest sample since the previous call.
    int takePeak() { return std::exchange(peak_, 0); }
    uint64_t frames() const { return head_; }

  private:
    static constexpr uint64_t kNever = ~uint64_t{0};
    void findMarker(double x);
    void findBreak(uint64_t at);
    bool nearMarker(uint64_t at) const;
    void addBreak(uint64_t at);

    TestSignal signal_;
    uint32_t box_;   // frames the marker detector averages over
    uint32_t delay_; // frames the break search runs behind the marker search
    double toneStep_;
    double markerHz_;
    std::vector<double> boxRe_, boxIm_;
    double sumRe_ = 0, sumIm_ = 0, lastLevel_ = 0;
    std::vector<int16_t> ring_;
    uint64_t head_ = 0;
    uint64_t toneStartedAt_ = kNever;
    uint64_t lastLoud_ = 0;
    uint64_t lastBreakEvent_ = kNever;
    int peak_ = 0;
    std::vector<double> markers_;
    std::vector<uint64_t> breaks_;
};

// Measures the delay of whatever carries sound from one sink's monitor (the input
// a listener reads) to another sink (the speakers): plays the test signal into
// the input sink, records both sinks' monitors with every chunk timed on
// CLOCK_MONOTONIC from the server's timing information, and pairs each marker
// found at the speakers with the one found before it at the input.
class DelayMeter {
  public:
    struct Options {
        std::string inputSink = "tavrin_null";
        std::string speakersSink = "tavrin_speakers";
        std::chrono::milliseconds markerPeriod{200};
        // A marker at the speakers later than this after one at the input is not its copy.
        std::chrono::milliseconds maxDelay{180};
        // Chunk size asked of the two recordings: the finer, the more timing updates.
        std::chrono::milliseconds fragment{10};
        std::chrono::milliseconds connectTimeout{5000};
    };

    struct Result {
        std::string failure;          // why the measurement did not run; empty when it did
        std::vector<double> delaysMs; // one for each marker found at both ends, in order
        uint64_t markersSent = 0;
        uint64_t markersAtInput = 0;
        uint64_t markersAtOutput = 0;
        uint64_t breaks = 0;              // in the tone at the speakers, once it had started there
        uint64_t inputBreaks = 0;         // in the tone at the input (the meter's own path)
        uint64_t playerUnderflows = 0;    // times the meter's own signal ran dry (a starved machine)
        int outputPeak = 0;               // the loudest sample at the speakers
        std::vector<double> breakTimesMs; // of the breaks at the speakers, from the start

        bool reachedSpeakers() const { return outputPeak > 64; }
        // Nearest-rank percentile of the delays; NaN when there are none.
        double percentile(double p) const;
        double median() const { return percentile(50); }
        double max() const;
    };

    DelayMeter() : DelayMeter(Options{}) {}
    explicit DelayMeter(Options options);
    ~DelayMeter();
    DelayMeter(const DelayMeter&) = delete;
    DelayMeter& operator=(const DelayMeter&) = delete;

    // Connects to the sound server (the one libpulse finds from the environment),
    // starts the two recordings and then the signal. False, with failure(), when
    // the server or a sink is not there.
    bool start();
    const std::string& failure() const;
    // What arrived since the previous collect(); markers still on their way are
    // counted in the next one.
    Result collect();
    // Stops the markers, waits for those on their way, and ends the streams.
    Result stop();
    // start(), `duration`, stop().
    Result measure(std::chrono::milliseconds duration);

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tavrin::testing
