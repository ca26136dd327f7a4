// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <cstdint>
#include <deque>

namespace tavrin::record {

// Keeps a sound stream on the graph's clock without losing what the source gave.
//
// A sound server hands packets over late and in bursts; their read times say little
// about when each sample was captured, but the earliest of them bound it well. So the
// samples are counted, and the lowest recent "read time minus samples so far" ties the
// count to the clock. The written stream is the source's samples back to back: jitter
// of up to `jitter` is simply absorbed, slow drift between the two clocks is taken out
// by stretching or squeezing the sound very slightly (`stretch`, applied by the caller's
// resampler), and only a source that stops delivering for longer than `jitter` gets
// silence in its place. Each such gap, and each cut made because the source ran far
// ahead of the clock, is counted.
class AudioTimeline {
  public:
    struct Placement {
        int64_t silence = 0; // samples of silence to write before the packet
        int64_t skip = 0;    // samples to leave out from the packet's start
        int64_t stretch = 0; // samples to add (or, negative, remove) while writing the rest
    };
    struct Counts {
        int64_t gaps = 0; // silences put in while recording (the source stopped)
        int64_t gapSamples = 0;
        int64_t splices = 0; // cuts made because the source ran far ahead of the clock
        int64_t splicedSamples = 0;
        int64_t leadSamples = 0; // silence before the first sound
    };

    explicit AudioTimeline(uint32_t sampleRate, REFERENCE_TIME jitter = 5000000);

    // A packet of `samples` whose last sample was read at stream time `arrival`; packets
    // read before the start have negative times. The caller writes the placement's
    // silence (already counted in `position`), then the packet less `skip` with
    // `stretch` applied, and reports how many samples of sound that gave with `advance`.
    Placement place(int64_t samples, REFERENCE_TIME arrival);
    // Silence to write now because nothing came for longer than the jitter allowed
    // (already counted in `position`).
    int64_t silenceOwed(REFERENCE_TIME now);
    void advance(int64_t soundWritten) { position_ += soundWritten; }

    // Samples written so far, and the count that corresponds to a stream time.
    int64_t position() const { return position_; }
    int64_t samplesAt(REFERENCE_TIME t) const;
    uint32_t sampleRate() const { return rate_; }
    const Counts& counts() const { return counts_; }
    // Nothing has come for longer than the jitter allowed, and silence stands in for it.
    bool inGap() const { return inGap_; }
    // How far the written stream is ahead of where the clock puts the source (samples).
    int64_t error() const { return error_; }

  private:
    struct Reading {
        REFERENCE_TIME arrival;
        int64_t offset;
    };
    int64_t floorOffset() const;

    uint32_t rate_;
    int64_t jitter_; // in samples
    int64_t position_ = 0;
    int64_t input_ = 0; // samples received, before and after the start
    int64_t error_ = 0;
    double stretchCarry_ = 0;
    bool started_ = false; // the stream has begun (sound or silence written)
    bool heard_ = false;   // the source's sound has begun
    bool inGap_ = false;
    std::deque<Reading> window_; // increasing offsets: the front is the lowest recent one
    Counts counts_;
};

} // namespace tavrin::record
