#pragma once

#include "record/MediaTypes.h"

#include <cstdint>

namespace tavrin::record {

// Keeps a sound stream on the graph's clock by counting samples. A sound server
// hands over packets late and in bursts, skips holes, and its own time stamps
// drift from the clock; so each packet is placed where the clock says it was
// captured, and the stream is padded with silence or trimmed when it is more than
// `tolerance` away from that place. The written sample count is the stream's time.
class AudioTimeline {
  public:
    struct Placement {
        int64_t silence = 0; // samples of silence to write before the packet
        int64_t skip = 0;    // samples to leave out from the packet's start
    };

    explicit AudioTimeline(uint32_t sampleRate, REFERENCE_TIME tolerance = 1000000);

    // A packet of `samples` whose last sample was captured at stream time `arrival`.
    Placement place(int64_t samples, REFERENCE_TIME arrival);
    // Silence to write now because nothing came: the source paused or stopped.
    int64_t silenceOwed(REFERENCE_TIME now);

    // Samples written so far, and the stream time that corresponds to a count.
    int64_t position() const { return position_; }
    REFERENCE_TIME timeOf(int64_t samples) const;
    int64_t samplesAt(REFERENCE_TIME t) const;
    uint32_t sampleRate() const { return rate_; }

  private:
    uint32_t rate_;
    int64_t tolerance_; // in samples
    int64_t position_ = 0;
    bool started_ = false;
};

} // namespace tavrin::record
