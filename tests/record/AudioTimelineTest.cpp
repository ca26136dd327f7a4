#include "record/AudioTimeline.h"

#include <gtest/gtest.h>

using namespace tavrin::record;

namespace {

constexpr REFERENCE_TIME ms = 10000;

TEST(AudioTimeline, FirstPacketStartsTheStreamWhereTheClockPutsIt) {
    // 50 ms of sound arriving 80 ms after the start: 30 ms of silence first.
    AudioTimeline late(48000);
    auto p = late.place(2400, 80 * ms);
    EXPECT_EQ(p.silence, 1440);
    EXPECT_EQ(p.skip, 0);
    EXPECT_EQ(late.position(), 3840);

    // 50 ms arriving 20 ms after the start: its first 30 ms were captured before it.
    AudioTimeline early(48000);
    p = early.place(2400, 20 * ms);
    EXPECT_EQ(p.silence, 0);
    EXPECT_EQ(p.skip, 1440);
    EXPECT_EQ(early.position(), 960);
}

TEST(AudioTimeline, JitterWithinToleranceIsLeftAlone) {
    AudioTimeline t(48000);
    t.place(2400, 50 * ms);
    // Packets of 50 ms arriving up to 60 ms early or late never change the count.
    const int offsets[] = {30, -60, 10, 55, -20, 0, 45, -45};
    for (int i = 0; i < 8; ++i) {
        auto p = t.place(2400, (100 + 50 * i) * ms + offsets[i] * ms);
        EXPECT_EQ(p.silence, 0) << i;
        EXPECT_EQ(p.skip, 0) << i;
    }
    EXPECT_EQ(t.position(), 9 * 2400);
}

TEST(AudioTimeline, SourceThatPausesGetsSilenceSoTheStreamStaysOnTheClock) {
    AudioTimeline t(48000);
    for (int i = 1; i <= 20; ++i)
        t.place(2400, i * 50 * ms); // one second of steady sound
    ASSERT_EQ(t.position(), 48000);
    // Nothing for three seconds: silence is written while waiting...
    EXPECT_EQ(t.silenceOwed(1150 * ms), 0) << "a short wait is jitter";
    const int64_t owed = t.silenceOwed(4000 * ms);
    EXPECT_EQ(owed, 4000 * 48 - 4800 - 48000);
    // ...and the next packet lands where the clock says, within the tolerance.
    auto p = t.place(2400, 4050 * ms);
    EXPECT_LE(std::abs(t.position() - t.samplesAt(4050 * ms)), 4800);
    EXPECT_EQ(p.skip, 0);
    // A pause without anybody asking for silence: the gap is filled by the next packet.
    AudioTimeline u(48000);
    u.place(2400, 50 * ms);
    p = u.place(2400, 2050 * ms);
    EXPECT_EQ(p.silence, 2000 * 48 - 2400);
    EXPECT_EQ(u.position(), u.samplesAt(2050 * ms));
}

TEST(AudioTimeline, SourceFasterThanTheClockIsTrimmed) {
    AudioTimeline t(48000);
    t.place(2400, 50 * ms);
    // Two seconds of sound delivered within one second of clock.
    int64_t skipped = 0;
    for (int i = 2; i <= 41; ++i)
        skipped += t.place(2400, (50 + (i - 1) * 25) * ms).skip;
    EXPECT_GT(skipped, 0);
    EXPECT_LE(std::abs(t.position() - t.samplesAt((50 + 40 * 25) * ms)), 4800);
}

TEST(AudioTimeline, LongRecordingWithSlightlySlowDeviceStaysInStep) {
    // A device clock 0.05 % slow against the graph clock, one hour of 50 ms packets.
    AudioTimeline t(48000);
    const double packetClock = 50.025 * ms;
    for (int i = 1; i <= 72000; ++i)
        t.place(2400, static_cast<REFERENCE_TIME>(i * packetClock));
    const REFERENCE_TIME end = static_cast<REFERENCE_TIME>(72000 * packetClock);
    EXPECT_LE(std::abs(t.position() - t.samplesAt(end)), 4800) << "never more than the tolerance apart";
}

} // namespace
