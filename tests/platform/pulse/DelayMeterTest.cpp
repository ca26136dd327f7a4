// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/pulse/DelayMeter.h"
#include "platform/pulse/PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using tavrin::testing::DelayMeter;
using tavrin::testing::PrivateSoundServer;
using tavrin::testing::SignalSource;
using tavrin::testing::SignalTrack;
using tavrin::testing::TestSignal;

namespace {

// `seconds` of the test signal as sent, at `rate`.
std::vector<int16_t> signalOf(uint32_t rate, double seconds, uint64_t* sent = nullptr) {
    SignalSource source(TestSignal::at(rate, 200ms));
    std::vector<int16_t> s(static_cast<std::size_t>(seconds * rate));
    source.fill(s.data(), s.size());
    if (sent != nullptr)
        *sent = source.markersSent();
    return s;
}

void cut(std::vector<int16_t>& s, double atSeconds, double seconds, uint32_t rate) {
    const auto from = s.begin() + static_cast<std::ptrdiff_t>(atSeconds * rate);
    s.erase(from, from + static_cast<std::ptrdiff_t>(seconds * rate));
}

// A path that changes the level, as a volume control would.
std::function<void(std::vector<int16_t>&, uint32_t)> scaled(double gain) {
    return [gain](std::vector<int16_t>& s, uint32_t) {
        for (auto& x : s)
            x = static_cast<int16_t>(std::lround(x * gain));
    };
}

std::string breaksOf(const DelayMeter::Result& r) {
    std::string text =
        std::to_string(r.playerUnderflows) + " under-runs of the signal; breaks at the speakers at (ms):";
    for (double t : r.breakTimesMs)
        text += " " + std::to_string(t);
    return text;
}

} // namespace

// What a track finds in the signal after a path that delays, scales or damages it.
TEST(SignalTrack, FindsTheMarkersAndTheBreaksInTheTone) {
    struct Case {
        const char* name;
        uint32_t rate;
        std::function<void(std::vector<int16_t>&, uint32_t)> path;
        uint64_t markersLost; // of those sent
        std::size_t breaks;
    };
    const std::vector<Case> cases = {
        {"as sent", 48000, [](auto&, uint32_t) {}, 0, 0},
        {"after 50 ms of nothing", 44100,
         [](auto& s, uint32_t rate) { s.insert(s.begin(), rate / 20, int16_t{0}); }, 0, 0},
        {"at half the level", 44100, scaled(0.5), 0, 0},
        // The marker found late in its first millisecond: its start must not pass for a break.
        {"at a third of the level", 48000, scaled(0.34), 0, 0},
        {"a sample dropped every 100 ms", 48000,
         [](auto& s, uint32_t rate) {
             for (std::size_t at = s.size() - 1000; at > rate; at -= rate / 10)
                 s.erase(s.begin() + static_cast<std::ptrdiff_t>(at));
         },
         0, 0},
        {"a sample repeated every 100 ms", 44100,
         [](auto& s, uint32_t rate) {
             for (std::size_t at = s.size() - 1000; at > rate; at -= rate / 10)
                 s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), s[at]);
         },
         0, 0},
        {"resampled 0.5 % faster, as a loopback follows a clock", 48000,
         [](auto& s, uint32_t) {
             std::vector<int16_t> r;
             for (double at = 0; at + 1 < static_cast<double>(s.size()); at += 1.005) {
                 const auto i = static_cast<std::size_t>(at);
                 r.push_back(static_cast<int16_t>(std::lround(s[i] + (at - i) * (s[i + 1] - s[i]))));
             }
             s = r;
         },
         0, 0},
        {"20 ms of silence in the tone", 48000,
         [](auto& s, uint32_t rate) {
             std::fill_n(s.begin() + static_cast<std::ptrdiff_t>(rate * 1.05), rate / 50, int16_t{0});
         },
         0, 1},
        {"3 ms cut out of the tone, three times", 44100,
         [](auto& s, uint32_t rate) {
             for (double at : {1.333, 1.55, 2.01})
                 cut(s, at, 0.003, rate);
         },
         0, 3},
        {"a click in the tone", 48000, [](auto& s, uint32_t rate) { s[rate * 2] = 32767; }, 0, 1},
        {"a marker cut out with the tone around it", 48000,
         [](auto& s, uint32_t rate) { cut(s, 1.098, 0.01, rate); }, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t sent = 0;
        auto s = signalOf(c.rate, 2.5, &sent);
        c.path(s, c.rate);
        SignalTrack track(TestSignal::at(c.rate, 200ms));
        // In chunks of uneven size, as a recording delivers them.
        for (std::size_t at = 0, n = 1; at < s.size(); at += n, n = n * 7 % 1031 + 1)
            track.feed(s.data() + at, std::min(n, s.size() - at));
        EXPECT_EQ(track.markers().size(), sent - c.markersLost);
        EXPECT_EQ(track.breaks().size(), c.breaks);
        EXPECT_TRUE(track.toneStarted());
    }
}

// Each marker is placed where it was sent, after however long a path kept it.
TEST(SignalTrack, PlacesEachMarkerToAFrame) {
    for (uint32_t delay : {0u, 1u, 441u, 4410u, 12345u}) {
        SCOPED_TRACE(delay);
        const TestSignal signal = TestSignal::at(44100, 200ms);
        uint64_t sent = 0;
        auto s = signalOf(44100, 3, &sent);
        s.insert(s.begin(), delay, int16_t{0});
        SignalTrack track(signal);
        track.feed(s.data(), s.size());
        ASSERT_EQ(track.markers().size(), sent);
        for (std::size_t k = 0; k < sent; ++k)
            EXPECT_NEAR(track.markers()[k], signal.leadInFrames + delay + k * signal.periodFrames, 1.5) << k;
    }
}

// Markers turned off and on again between and in the middle of periods: each one
// sent is whole, and exactly those sent are found.
TEST(SignalSource, MarkersStopAndResumeOnlyAtAPeriod) {
    const TestSignal signal = TestSignal::at(48000, 200ms);
    SignalSource source(signal);
    SignalTrack track(signal);
    std::vector<int16_t> chunk(signal.periodFrames * 3 / 2 + 17);
    uint64_t sentWhileOn = 0;
    for (int k = 0; k < 8; ++k) {
        const bool on = k % 3 != 1;
        source.setMarkers(on);
        const uint64_t before = source.markersSent();
        source.fill(chunk.data(), chunk.size());
        track.feed(chunk.data(), chunk.size());
        if (!on) {
            EXPECT_EQ(source.markersSent(), before) << k;
        }
        sentWhileOn += source.markersSent() - before;
    }
    EXPECT_GT(sentWhileOn, 6u);
    EXPECT_EQ(track.markers().size(), source.markersSent());
    EXPECT_TRUE(track.breaks().empty());
    // Every marker starts on a period, however the calls fell.
    for (double at : track.markers())
        EXPECT_NEAR(std::fmod(at - signal.leadInFrames + 2, signal.periodFrames), 2, 1.5) << at;
}

TEST(DelayMeterResult, PercentilesAreNearestRankOfTheSortedDelays) {
    struct Case {
        std::vector<double> delays;
        double p;
        double expected;
    };
    const std::vector<Case> cases = {
        {{9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, 50, 5},
        {{9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, 90, 9},
        {{9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, 99, 10},
        {{9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, 0, 1},
        {{20, 10}, 50, 10},
        {{20, 10}, 51, 20},
        {{42}, 99, 42},
    };
    for (const auto& c : cases) {
        DelayMeter::Result r;
        r.delaysMs = c.delays;
        EXPECT_EQ(r.percentile(c.p), c.expected) << c.p << " of " << c.delays.size();
    }
    DelayMeter::Result r;
    r.delaysMs = {3, 17, 4};
    EXPECT_EQ(r.max(), 17);
    EXPECT_EQ(r.median(), 4);
    EXPECT_TRUE(std::isnan(DelayMeter::Result{}.median()));
    EXPECT_TRUE(std::isnan(DelayMeter::Result{}.max()));
}

// The meter against what the sound server itself can be told to do: nothing
// between the sinks, its own loopback at two delays, and that loopback broken off.
TEST(DelayMeter, MeasuresTheSoundServersOwnLoopback) {
    PrivateSoundServer server;
    if (server.failure() == "cannot run pulseaudio")
        GTEST_SKIP() << "pulseaudio is not installed";
    ASSERT_TRUE(server.running()) << server.failure();

    const DelayMeter::Result none = DelayMeter().measure(2s);
    ASSERT_EQ(none.failure, "");
    EXPECT_GE(none.markersSent, 7u);
    EXPECT_EQ(none.markersAtInput, none.markersSent);
    EXPECT_EQ(none.markersAtOutput, 0u);
    EXPECT_TRUE(none.delaysMs.empty());
    EXPECT_FALSE(none.reachedSpeakers()) << none.outputPeak;

    for (int latency : {30, 90}) {
        SCOPED_TRACE(latency);
        const auto loopback = tavrin::testing::loadSoundModule(
            "module-loopback",
            "source=tavrin_null.monitor sink=tavrin_speakers latency_msec=" + std::to_string(latency));
        ASSERT_TRUE(loopback);
        // The loopback starts with more in its queue and takes a second to come down.
        std::this_thread::sleep_for(1500ms);
        // Two windows: what one collect() took, the next one does not count again.
        DelayMeter meter;
        ASSERT_TRUE(meter.start()) << meter.failure();
        std::this_thread::sleep_for(2s);
        const DelayMeter::Result first = meter.collect();
        std::this_thread::sleep_for(2s);
        const DelayMeter::Result second = meter.stop();
        // A meter told that nothing takes more than a third of this delay pairs nothing.
        DelayMeter::Options impatient;
        impatient.maxDelay = std::chrono::milliseconds(latency / 3);
        const DelayMeter::Result unpaired = DelayMeter(impatient).measure(1s);
        tavrin::testing::unloadSoundModule(*loopback);

        for (const DelayMeter::Result* r : {&first, &second}) {
            ASSERT_EQ(r->failure, "");
            EXPECT_TRUE(r->reachedSpeakers());
            EXPECT_GE(r->markersSent, 5u);
            EXPECT_NEAR(r->median(), latency, 0.25 * latency);
            EXPECT_LT(r->max() - r->percentile(1), 0.25 * latency);
            // The loopback adds no break of its own; a machine busy enough to starve the
            // meter's signal breaks it at the input, and the loopback carries that on.
            EXPECT_EQ(r->breaks, r->inputBreaks) << breaksOf(*r);
        }
        const uint64_t sent = first.markersSent + second.markersSent;
        EXPECT_GE(sent, 17u);
        EXPECT_EQ(first.markersAtInput + second.markersAtInput, sent);
        EXPECT_EQ(first.markersAtOutput + second.markersAtOutput, sent);
        EXPECT_EQ(first.delaysMs.size() + second.delaysMs.size(), sent);

        ASSERT_EQ(unpaired.failure, "");
        EXPECT_EQ(unpaired.markersAtOutput, unpaired.markersSent);
        EXPECT_TRUE(unpaired.delaysMs.empty());
    }

    // A sink that is not there: a failure that says which, at once.
    DelayMeter::Options nowhere;
    nowhere.speakersSink = "tavrin_nowhere";
    const auto asked = std::chrono::steady_clock::now();
    const DelayMeter::Result missing = DelayMeter(nowhere).measure(1s);
    EXPECT_EQ(missing.failure, "no sink tavrin_nowhere");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);

    // The loopback gone for 150 ms and back: one break, the markers in it lost.
    DelayMeter meter;
    const auto first = tavrin::testing::loadSoundModule(
        "module-loopback", "source=tavrin_null.monitor sink=tavrin_speakers latency_msec=30");
    ASSERT_TRUE(first);
    ASSERT_TRUE(meter.start()) << meter.failure();
    std::this_thread::sleep_for(1500ms);
    tavrin::testing::unloadSoundModule(*first);
    std::this_thread::sleep_for(150ms);
    const auto second = tavrin::testing::loadSoundModule(
        "module-loopback", "source=tavrin_null.monitor sink=tavrin_speakers latency_msec=30");
    ASSERT_TRUE(second);
    std::this_thread::sleep_for(1500ms);
    const DelayMeter::Result broken = meter.stop();
    tavrin::testing::unloadSoundModule(*second);
    EXPECT_EQ(broken.breaks, broken.inputBreaks + 1) << breaksOf(broken);
    EXPECT_LT(broken.markersAtOutput, broken.markersSent);
    EXPECT_GE(broken.markersAtOutput, broken.markersSent - 2);
}

// The helper's own promise: a server that goes away and comes back on the same
// socket, and nothing left of it afterwards.
TEST(PrivateSoundServer, StopsAndStartsAgainOnTheSameSocket) {
    std::string address;
    {
        PrivateSoundServer server;
        if (server.failure() == "cannot run pulseaudio")
            GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(server.running()) << server.failure();
        address = server.address();
        EXPECT_EQ(std::getenv("PULSE_SERVER"), address);
        EXPECT_TRUE(tavrin::testing::soundServerAnswers());
        server.stop();
        EXPECT_FALSE(tavrin::testing::soundServerAnswers(500ms));
        EXPECT_NE(DelayMeter().measure(0s).failure, "");
        ASSERT_TRUE(server.start()) << server.failure();
        EXPECT_EQ(server.address(), address);
        const auto streams = tavrin::testing::soundServerPlaybackStreams();
        ASSERT_TRUE(streams);
        EXPECT_TRUE(streams->empty());
    }
    EXPECT_NE(std::getenv("PULSE_SERVER") ? std::string(std::getenv("PULSE_SERVER")) : "", address);
    EXPECT_FALSE(std::filesystem::exists(address.substr(5)));
}
