// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/ListenPacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

using tavrin::record::ListenPacer;

namespace {

// 48 kHz: 15 ms aimed for, 3 ms either side left alone, 80 ms a stall.
constexpr ListenPacer::Band kBand{720, 144, 3840};

TEST(ListenPacer, ChunkLengthsForHowMuchWaits) {
    struct Case {
        uint32_t in, queued, out;
    };
    ListenPacer pacer(kBand);
    const Case cases[] = {
        {240, 720, 240},            // on target
        {240, 720 + 144, 240},      // at the edge of the band: left alone
        {240, 720 - 144, 240},      //
        {240, 720 + 145, 239},      // just outside: one frame
        {240, 720 - 145, 241},      //
        {240, 720 + 144 + 40, 238}, // further: in proportion (40 / 16)
        {240, 3000, 236},           // far: never more than 2 % of the chunk
        {240, 0, 244},              // ran dry: stretched, at most 2 %
        {240, 3840, 236},           // at the ceiling: still stretched
        {240, 3841, 0},             // past it: a stall's backlog, dropped
        {10, 0, 11},                // a short chunk still moves by a frame
        {1, 0, 1},                  // one frame cannot be stretched
        {0, 2000, 0},               //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in << " in, " << c.queued << " waiting");
        EXPECT_EQ(pacer.outputFrames(c.in, c.queued), c.out);
    }
}

// An input clock and an output clock `ppm` apart, 5 ms chunks, ten minutes: what waits at
// the output settles in the band and stays there; it never runs dry or piles up.
TEST(ListenPacer, HoldsTheDelayInTheBandAsTheClocksDrift) {
    for (const double ppm : {-3000.0, -300.0, 0.0, 300.0, 3000.0}) {
        for (const double start : {0.0, 720.0, 3500.0}) {
            ListenPacer pacer(kBand);
            SCOPED_TRACE(::testing::Message() << ppm << " ppm, starting with " << start << " waiting");
            double queued = start;
            double lowest = 1e9, highest = 0;
            uint64_t changed = 0;
            const double drained = 240.0 * (1.0 + ppm / 1e6); // the output's clock
            for (int chunk = 0; chunk < 10 * 60 * 200; ++chunk) {
                const uint32_t out = pacer.outputFrames(240, static_cast<uint32_t>(queued));
                changed += out != 240;
                queued = std::max(0.0, queued + out - drained);
                if (chunk > 5 * 200) { // after five seconds
                    lowest = std::min(lowest, queued);
                    highest = std::max(highest, queued);
                }
            }
            EXPECT_GE(lowest, 720 - 144 - 8);
            EXPECT_LE(highest, 720 + 144 + 8);
            // Drift of 300 ppm is 0.07 frames a chunk: a correction now and then, not each time.
            if (std::abs(ppm) <= 300) {
                EXPECT_LT(changed, 10 * 60 * 200 / 10u);
            }
        }
    }
}

// A busy machine: every two seconds the input arrives 30 ms late, all at once. The
// output runs dry the first few times, then the target has risen enough to ride it
// out; once the machine is quiet again the target comes back down.
TEST(ListenPacer, ATargetRaisedByUnderrunsRidesOutStallsAndComesBackDown) {
    ListenPacer::Band band = kBand;
    band.raise = 240;    // 5 ms
    band.highest = 1920; // 40 ms
    band.calm = 24000;   // a frame off every half second of calm
    ListenPacer pacer(band);
    double queued = 720;
    int underruns = 0, lateUnderruns = 0;
    uint32_t held = 0; // input frames the stall holds back
    auto tick = [&](bool stall) {
        // One 5 ms tick: the output plays 240 frames; the input hands over its chunks.
        if (stall) {
            held += 240;
        } else {
            for (uint32_t n = (held + 240) / 240; n > 0; --n)
                queued += pacer.outputFrames(240, static_cast<uint32_t>(queued));
            held = 0;
        }
        if (queued < 240) {
            pacer.underrun();
            return true;
        }
        queued -= 240;
        return false;
    };
    for (int second = 0; second < 60; ++second) {
        for (int t = 0; t < 200; ++t) {
            const bool ranDry = tick(second % 2 == 0 && t < 6);
            underruns += ranDry;
            lateUnderruns += ranDry && second >= 20;
        }
    }
    EXPECT_GT(underruns, 0) << "30 ms late on a 15 ms target runs dry at first";
    EXPECT_EQ(lateUnderruns, 0) << "after that the stalls are ridden out";
    EXPECT_GT(pacer.target(), 720 + 240u);
    EXPECT_LE(pacer.target(), 1920u);
    // Quiet again: a frame every half second brings it back to 15 ms within a few minutes.
    for (int t = 0; t < 200 * 60 * 5; ++t)
        ASSERT_FALSE(tick(false)) << t;
    EXPECT_EQ(pacer.target(), 720u);
    EXPECT_NEAR(queued, 720, 144 + 240);
}

std::vector<int16_t> sine(uint32_t frames, uint32_t channels, double period) {
    std::vector<int16_t> out(static_cast<std::size_t>(frames) * channels);
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c)
            out[f * channels + c] = static_cast<int16_t>(
                std::lround((c ? -12000.0 : 12000.0) * std::sin(2 * std::numbers::pi * f / period)));
    return out;
}

// The largest step between neighbouring frames of one channel.
int largestStep(const std::vector<int16_t>& s, uint32_t channels, uint32_t channel) {
    int step = 0;
    for (std::size_t i = channel + channels; i < s.size(); i += channels)
        step = std::max(step, std::abs(s[i] - s[i - channels]));
    return step;
}

TEST(ListenPacer, StretchingKeepsEachChannelSmoothAndJoinsChunksWithoutAStep) {
    // A long sine cut in chunks, each stretched or shrunk as the pacer might, put back in a row.
    constexpr uint32_t kChannels = 2;
    const std::vector<int16_t> input = sine(240 * 40, kChannels, 109.3);
    std::vector<int16_t> played;
    const uint32_t lengths[] = {240, 236, 244, 239, 241, 240};
    for (uint32_t chunk = 0; chunk < 40; ++chunk) {
        const uint32_t out = lengths[chunk % 6];
        std::vector<int16_t> piece(static_cast<std::size_t>(out) * kChannels);
        ListenPacer::stretch(input.data() + chunk * 240 * kChannels, 240, piece.data(), out, kChannels);
        // The chunk's first and last frames are kept, so neighbours meet where the input did.
        EXPECT_EQ(piece[0], input[chunk * 240 * kChannels]);
        EXPECT_EQ(piece[piece.size() - 1], input[(chunk * 240 + 239) * kChannels + 1]);
        played.insert(played.end(), piece.begin(), piece.end());
    }
    for (uint32_t c = 0; c < kChannels; ++c) {
        SCOPED_TRACE(c);
        // A click would be a step far larger than the sine's own; stretching by 2 % adds at most that much.
        EXPECT_LE(largestStep(played, kChannels, c), largestStep(input, kChannels, c) * 103 / 100 + 1);
    }
    // The channels stay apart: the right one is the left one negated.
    for (std::size_t f = 0; f < played.size(); f += 2)
        ASSERT_NEAR(played[f], -played[f + 1], 1) << "frame " << f / 2;
}

TEST(ListenPacer, StretchIsExactWhereItCanBe) {
    // Same length: a copy. A ramp stays a ramp of the new length.
    const std::vector<int16_t> ramp = {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
    std::vector<int16_t> out(11);
    ListenPacer::stretch(ramp.data(), 11, out.data(), 11, 1);
    EXPECT_EQ(out, ramp);
    out.assign(6, 0);
    ListenPacer::stretch(ramp.data(), 11, out.data(), 6, 1);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 200, 400, 600, 800, 1000}));
    out.assign(21, 0);
    ListenPacer::stretch(ramp.data(), 11, out.data(), 21, 1);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], static_cast<int16_t>(i * 50)) << i;
    // Extremes do not wrap around.
    const std::vector<int16_t> loud = {32767, -32768, 32767};
    out.assign(5, 0);
    ListenPacer::stretch(loud.data(), 3, out.data(), 5, 1);
    EXPECT_EQ(out, (std::vector<int16_t>{32767, 0, -32768, -1, 32767}));
}

} // namespace
