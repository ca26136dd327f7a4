#include "record/AudioTimeline.h"

#include <algorithm>

namespace tavrin::record {

AudioTimeline::AudioTimeline(uint32_t sampleRate, REFERENCE_TIME tolerance)
    : rate_(sampleRate ? sampleRate : 1), tolerance_(std::max<int64_t>(1, tolerance * rate_ / UNITS)) {}

REFERENCE_TIME AudioTimeline::timeOf(int64_t samples) const {
    return samples * UNITS / rate_;
}

int64_t AudioTimeline::samplesAt(REFERENCE_TIME t) const {
    // Floor division, so that times before the start give negative counts; split so that
    // the product cannot overflow over any length of recording.
    int64_t whole = t / UNITS;
    int64_t rest = t % UNITS;
    if (rest < 0) {
        rest += UNITS;
        --whole;
    }
    return whole * rate_ + rest * rate_ / UNITS;
}

AudioTimeline::Placement AudioTimeline::place(int64_t samples, REFERENCE_TIME arrival) {
    Placement p;
    if (samples <= 0)
        return p;
    const int64_t expectedStart = samplesAt(arrival) - samples;
    if (!started_) {
        // The first packet decides where sound begins: silence before it, or the part
        // that was captured before the recording started is left out.
        started_ = true;
        if (expectedStart > 0)
            p.silence = expectedStart;
        else
            p.skip = std::min(samples, -expectedStart);
    } else {
        const int64_t drift = expectedStart - position_;
        if (drift > tolerance_)
            p.silence = drift;
        else if (drift < -tolerance_)
            p.skip = std::min(samples, -drift);
    }
    position_ += p.silence + (samples - p.skip);
    return p;
}

int64_t AudioTimeline::silenceOwed(REFERENCE_TIME now) {
    const int64_t target = samplesAt(now);
    // Wait two tolerances before filling, then fill up to one tolerance behind the clock,
    // so that a packet that is merely late still fits after the silence.
    if (target - position_ <= 2 * tolerance_)
        return 0;
    const int64_t owed = target - tolerance_ - position_;
    started_ = true;
    position_ += owed;
    return owed;
}

} // namespace tavrin::record
