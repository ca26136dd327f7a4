// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace tavrin::record {

// Keeps the sound waiting at the output near a target while the input's and the
// output's clocks drift apart. Each chunk read from the input is written a few frames
// shorter or longer (a stretch by at most kMaxStretch, which nobody hears) instead of
// letting the delay grow or the output run dry; only a backlog past the ceiling (a
// stall of the machine) is thrown away whole.
class ListenPacer {
  public:
    struct Band {
        uint32_t target = 0;    // frames waiting at the output that we aim for
        uint32_t tolerance = 0; // no correction this close to the target
        uint32_t ceiling = 0;   // more than this waiting: drop chunks until below it
    };
    // The largest change of a chunk's length, as a fraction of it (1/50: 2 %).
    static constexpr uint32_t kMaxStretchDivisor = 50;

    explicit ListenPacer(Band band) : band_(band) {}

    // Frames to write for `in` frames read, with `queued` frames waiting at the output.
    uint32_t outputFrames(uint32_t in, uint32_t queued) const;

    // `inFrames` interleaved frames resampled to `outFrames` by linear interpolation,
    // first and last frames kept, so consecutive chunks join without a step.
    static void stretch(const int16_t* in, uint32_t inFrames, int16_t* out, uint32_t outFrames,
                        uint32_t channels);

  private:
    Band band_;
};

} // namespace tavrin::record
