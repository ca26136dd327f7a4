// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/AudioTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

using namespace tavrin::record;

namespace {

constexpr REFERENCE_TIME ms = 10000;
constexpr int64_t kRate = 48000;
constexpr int64_t kPacket = 960; // 20 ms

// Plays a source into a timeline as the capture pin does: each packet is placed, its
// silence counted, its sound written less the skip and with the stretch.
struct Feed {
    AudioTimeline t{kRate, 500 * ms};
    int64_t silence = 0, skipped = 0, stretched = 0, largestStretch = 0;
    void packet(int64_t samples, REFERENCE_TIME arrival) {
        const auto p = t.place(samples, arrival);
        silence += p.silence;
        skipped += p.skip;
        stretched += p.stretch;
        largestStretch = std::max(largestStretch, std::abs(p.stretch));
        t.advance(samples - p.skip + p.stretch);
    }
    // A source whose packet k is captured at start + k × 20 ms × `clockRatio` and read
    // `delay`(k) later (never before the previous one), polled for silence every 20 ms.
    void source(REFERENCE_TIME start, int packets, double clockRatio,
                const std::function<REFERENCE_TIME(int)>& delay) {
        REFERENCE_TIME last = start;
        for (int k = 1; k <= packets; ++k) {
            const auto captured = start + static_cast<REFERENCE_TIME>(k * 20 * ms * clockRatio);
            const REFERENCE_TIME arrival = std::max(last, captured + delay(k));
            for (REFERENCE_TIME poll = last + 20 * ms; poll < arrival; poll += 20 * ms)
                silence += t.silenceOwed(poll);
            packet(kPacket, arrival);
            last = arrival;
        }
    }
};

TEST(AudioTimeline, JitterAndBurstsUpToHalfASecondNeverCostASample) {
    struct Case {
        const char* name;
        std::function<REFERENCE_TIME(int)> delay;
    };
    const Case cases[] = {
        {"steady", [](int) { return 5 * ms; }},
        {"random up to 450 ms", [](int k) { return static_cast<REFERENCE_TIME>((k * 7919 % 450)) * ms; }},
        {"stall of 480 ms every 5 s, then a burst",
         [](int k) { return (k % 250) < 24 ? (24 - k % 250) * 20 * ms : 3 * ms; }},
        {"late by 300 ms for a while, then on time",
         [](int k) { return k > 500 && k < 800 ? 300 * ms : 2 * ms; }},
    };
    for (const Case& c : cases) {
        Feed r;
        r.source(-1000 * ms, 50 + 3000, 1.0, c.delay); // one second before the start, then a minute
        const auto& n = r.t.counts();
        EXPECT_EQ(n.gaps, 0) << c.name;
        EXPECT_EQ(n.splices, 0) << c.name;
        EXPECT_LE(n.leadSamples, kRate / 10) << c.name << ": no silence at the start beyond 100 ms";
        EXPECT_EQ(r.silence, n.leadSamples) << c.name;
        // Only sound from before the start is left out; the rest is all written, so the
        // stream is a minute long give or take the source's lowest delay.
        EXPECT_LE(r.skipped, kRate) << c.name;
        EXPECT_NEAR(static_cast<double>(r.t.position()), 60.0 * kRate, kRate * 0.5) << c.name;
        EXPECT_LE(std::abs(r.stretched), kRate / 20) << c.name << ": jitter is not mistaken for drift";
    }
}

TEST(AudioTimeline, ClockDriftIsTakenOutGraduallyOverAnHour) {
    for (double ratio : {1.0005, 0.9995}) { // the device 0.05 % slow, then fast
        Feed r;
        r.source(0, static_cast<int>(3600 * 50 / ratio), ratio, [](int k) { return (k * 31 % 40) * ms; });
        EXPECT_EQ(r.t.counts().gaps, 0) << ratio;
        EXPECT_EQ(r.t.counts().splices, 0) << ratio;
        // About 1.8 s of sound was stretched in or squeezed out, a little at a time...
        EXPECT_NEAR(static_cast<double>(r.stretched), (ratio - 1.0) * 3600 * kRate,
                    0.05 * 3600 * kRate * 0.0005)
            << ratio;
        // ...so that the sound ends with the clock, well within one frame of 60.
        EXPECT_NEAR(static_cast<double>(r.t.position()), 3600.0 * kRate, kRate / 60.0) << ratio;
    }
}

TEST(AudioTimeline, AnOffsetWithinTheJitterIsTakenOutAtMostHalfAPercentEitherWay) {
    struct Case {
        const char* name;
        int64_t burst;   // packets handed over at once, beyond what the clock explains
        int64_t dropped; // packets the source never delivers
        int sign;        // of the correction
    };
    const Case cases[] = {
        {"0.8 s ahead: a burst", 40, 0, -1},
        {"0.4 s behind: samples lost (seen once the 10 s window has passed)", 0, 20, +1},
    };
    for (const Case& c : cases) {
        Feed r;
        REFERENCE_TIME now = 0;
        for (int k = 1; k <= 100; ++k)
            r.packet(kPacket, now += 20 * ms);
        for (int k = 0; k < c.burst; ++k)
            r.packet(kPacket, now);
        now += c.dropped * 20 * ms;
        for (int k = 1; k <= 1500; ++k)
            r.packet(kPacket, now += 20 * ms);
        EXPECT_EQ(r.t.counts().gaps, 0) << c.name;
        EXPECT_EQ(r.t.counts().splices, 0) << c.name;
        EXPECT_LE(r.largestStretch, kPacket / 200 + 1) << c.name << ": never more than 0.5 % of a packet";
        EXPECT_GT(r.stretched * c.sign, kPacket / 200 * 500) << c.name << ": corrected all the while";
    }
}

TEST(AudioTimeline, OnlyASourceThatStopsGetsCountedSilence) {
    Feed r;
    r.source(-500 * ms, 25 + 250, 1.0, [](int) { return 4 * ms; }); // 5 s of sound
    ASSERT_EQ(r.t.counts().gaps, 0);
    // Nothing for three seconds: silence after half a second, while it lasts.
    EXPECT_EQ(r.t.silenceOwed(5400 * ms), 0) << "0.4 s is jitter";
    EXPECT_FALSE(r.t.inGap());
    int64_t owed = 0;
    for (REFERENCE_TIME t = 5600 * ms; t <= 8000 * ms; t += 20 * ms)
        owed += r.t.silenceOwed(t);
    EXPECT_TRUE(r.t.inGap());
    EXPECT_EQ(r.t.counts().gaps, 1);
    EXPECT_NEAR(static_cast<double>(owed), 2.95 * kRate, kRate * 0.05);
    // The source resumes: its sound lands where the clock puts it, and the gap is over.
    for (int k = 1; k <= 50; ++k)
        r.packet(kPacket, 8000 * ms + k * 20 * ms + 4 * ms);
    EXPECT_FALSE(r.t.inGap());
    EXPECT_EQ(r.t.counts().gaps, 1);
    EXPECT_NEAR(static_cast<double>(r.t.position()), 9.0 * kRate, kRate * 0.03);
    // Only what came before the start is left out: sound read 4 ms after its capture
    // starts the recording with the sound of 4 ms before the start.
    EXPECT_EQ(r.skipped, 25 * kPacket - 4 * kRate / 1000);
}

TEST(AudioTimeline, StartWithoutEarlierSoundAndSourceFarTooFast) {
    // First sound 80 ms after the start, 50 ms long: 30 ms of silence before it.
    AudioTimeline late(kRate);
    auto p = late.place(2400, 80 * ms);
    EXPECT_EQ(p.silence, 1440);
    EXPECT_EQ(late.counts().leadSamples, 1440);
    EXPECT_EQ(late.counts().gaps, 0);

    // A source delivering twice real time runs away from the clock: the excess is cut
    // once it is more than twice the jitter ahead, and each cut is counted.
    Feed r;
    for (int k = 1; k <= 500; ++k)
        r.packet(kPacket, k * 10 * ms);
    EXPECT_GT(r.t.counts().splices, 0);
    EXPECT_EQ(r.t.counts().splicedSamples + kPacket / 2, r.skipped) << "the first packet began 10 ms early";
    EXPECT_LE(r.t.position() - r.t.samplesAt(5000 * ms), kRate + kPacket);
}

} // namespace
