// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace tavrin::record {

// Keeps the sound waiting at the output near a target while the input's and the
// output's clocks drift apart. Each chunk read from the input is written a few frames
// shorter or longer (a stretch by at most kMaxStretch, which nobody hears) instead of
// letting the delay grow or the output run dry; only a backlog past the ceiling (a
// stall of the machine) is thrown away whole. Each time the output runs dry anyway (a
// busy machine), the target rises a step, up to a limit, and comes down again a
// little at a time while it does not: low on a quiet machine, unbroken on a busy one.
class ListenPacer {
  public:
    struct Band {
        uint32_t target = 0;    // frames waiting at the output that we aim for, at least
        uint32_t tolerance = 0; // no correction this close to the target
        uint32_t ceiling = 0;   // more than this waiting: drop chunks until below it
        uint32_t raise = 0;     // added to the target when the output ran dry
        uint32_t highest = 0;   // the target never rises above this
        uint32_t calm = 0;      // input frames without running dry that take a frame off again
    };
    // The largest change of a chunk's length, as a fraction of it (1/50: 2 %).
    static constexpr uint32_t kMaxStretchDivisor = 50;

    explicit ListenPacer(Band band) : band_(band) {}

    // Frames to write for `in` frames read, with `queued` frames waiting at the output.
    uint32_t outputFrames(uint32_t in, uint32_t queued);
    // The output ran dry.
    void underrun();
    uint32_t target() const { return band_.target + extra_; }

    // `inFrames` interleaved frames resampled to `outFrames` by linear interpolation,
    // first and last frames kept, so consecutive chunks join without a step.
    static void stretch(const int16_t* in, uint32_t inFrames, int16_t* out, uint32_t outFrames,
                        uint32_t channels);

  private:
    Band band_;
    uint32_t extra_ = 0;     // what underruns added to the target
    uint64_t calmSoFar_ = 0; // input frames since the target last rose or fell
};

} // namespace tavrin::record
