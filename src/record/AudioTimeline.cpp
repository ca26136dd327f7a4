// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/AudioTimeline.h"

#include <algorithm>
#include <cmath>

namespace tavrin::record {

namespace {
// The lowest offset of this long a stretch of packets ties the samples to the clock.
constexpr REFERENCE_TIME kWindow = 10 * UNITS;
// Drift is taken out over about this long, and never faster than kMaxStretch.
constexpr int64_t kCorrectionSeconds = 10;
constexpr double kMaxStretch = 0.005;
} // namespace

AudioTimeline::AudioTimeline(uint32_t sampleRate, REFERENCE_TIME jitter)
    : rate_(sampleRate ? sampleRate : 1), jitter_(std::max<int64_t>(1, jitter * rate_ / UNITS)) {}

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

int64_t AudioTimeline::floorOffset() const {
    return window_.empty() ? 0 : window_.front().offset;
}

AudioTimeline::Placement AudioTimeline::place(int64_t samples, REFERENCE_TIME arrival) {
    Placement p;
    if (samples <= 0)
        return p;
    const int64_t first = input_;
    input_ += samples;
    if (inGap_) {
        // The source is back after a gap: what it delivers now starts a new reckoning.
        window_.clear();
    }
    // Arrival minus samples so far: never below the true offset, since a packet is read
    // after it was captured; the lowest recent value is the best estimate of it.
    const int64_t offset = samplesAt(arrival) - input_;
    while (!window_.empty() && window_.back().offset >= offset)
        window_.pop_back();
    window_.push_back({arrival, offset});
    while (window_.front().arrival < arrival - kWindow)
        window_.pop_front();

    // Where the packet's first sample belongs in the written stream.
    const int64_t ideal = first + floorOffset();
    if (!started_) {
        if (ideal + samples <= 0) {
            p.skip = samples; // captured before the recording started
            return p;
        }
        started_ = true;
        heard_ = true;
        if (ideal < 0) {
            p.skip = -ideal;
        } else {
            p.silence = ideal;
            counts_.leadSamples = ideal;
            position_ += ideal;
        }
        error_ = 0;
        return p;
    }

    const int64_t ahead = position_ - ideal;
    error_ = ahead;
    if (ahead < 0 && (inGap_ || ahead < -jitter_)) {
        // Sound missing for longer than jitter explains: the rest of a gap, or one the
        // source made by dropping samples. Silence keeps what follows in its place.
        p.silence = -ahead;
        if (!heard_)
            counts_.leadSamples += p.silence;
        else {
            if (!inGap_)
                ++counts_.gaps;
            counts_.gapSamples += p.silence;
        }
        position_ += p.silence;
        error_ = 0;
    } else if (ahead > 2 * jitter_) {
        // Far ahead of the clock (a source faster than real time): stretching cannot
        // catch up with that, so the excess is cut.
        p.skip = std::min(samples, ahead);
        ++counts_.splices;
        counts_.splicedSamples += p.skip;
        error_ -= p.skip;
    } else {
        const double wanted = -static_cast<double>(ahead) * static_cast<double>(samples) /
                              static_cast<double>(kCorrectionSeconds * rate_);
        const double limit = kMaxStretch * static_cast<double>(samples);
        stretchCarry_ += std::clamp(wanted, -limit, limit);
        p.stretch = static_cast<int64_t>(std::trunc(stretchCarry_));
        stretchCarry_ -= static_cast<double>(p.stretch);
    }
    inGap_ = false;
    heard_ = true;
    return p;
}

int64_t AudioTimeline::silenceOwed(REFERENCE_TIME now) {
    const int64_t behind = samplesAt(now) - position_;
    if (!inGap_ && behind <= jitter_)
        return 0;
    // Fill up to a little behind the clock, so that sound resuming now still fits after it.
    const int64_t owed = behind - static_cast<int64_t>(rate_ / 20);
    if (owed <= 0)
        return 0;
    if (heard_) {
        if (!inGap_)
            ++counts_.gaps;
        counts_.gapSamples += owed;
    } else {
        counts_.leadSamples += owed;
    }
    inGap_ = true;
    started_ = true;
    position_ += owed;
    return owed;
}

} // namespace tavrin::record
