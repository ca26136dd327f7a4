// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/ListenPacer.h"

#include <algorithm>
#include <cstring>

namespace tavrin::record {

uint32_t ListenPacer::outputFrames(uint32_t in, uint32_t queued) {
    calmSoFar_ += in;
    if (extra_ > 0 && band_.calm > 0 && calmSoFar_ >= band_.calm) {
        --extra_;
        calmSoFar_ = 0;
    }
    if (queued > band_.ceiling)
        return 0;
    const uint32_t aim = target();
    const uint32_t off = queued > aim ? queued - aim : aim - queued;
    if (off <= band_.tolerance || in < 2)
        return in;
    // A step in proportion to how far off we are, so a drift of a few hundred parts per
    // million costs a frame now and then, and a jump of many milliseconds a second or so.
    const uint32_t limit = std::max<uint32_t>(1, in / kMaxStretchDivisor);
    const uint32_t step = std::clamp<uint32_t>((off - band_.tolerance) / 16, 1, limit);
    return queued > aim ? in - step : in + step;
}

void ListenPacer::underrun() {
    extra_ = std::min(extra_ + band_.raise, std::max(band_.highest, band_.target) - band_.target);
    calmSoFar_ = 0;
}

void ListenPacer::stretch(const int16_t* in, uint32_t inFrames, int16_t* out, uint32_t outFrames,
                          uint32_t channels) {
    if (outFrames == 0 || inFrames == 0)
        return;
    if (inFrames == outFrames || inFrames == 1 || outFrames == 1) {
        for (uint32_t f = 0; f < outFrames; ++f)
            std::memcpy(out + static_cast<std::size_t>(f) * channels,
                        in + static_cast<std::size_t>(std::min(f, inFrames - 1)) * channels,
                        channels * sizeof(int16_t));
        return;
    }
    // Output frame f sits at f * (in - 1) / (out - 1) input frames, in fixed point.
    const uint64_t span = inFrames - 1;
    const uint64_t steps = outFrames - 1;
    for (uint32_t f = 0; f < outFrames; ++f) {
        const uint64_t pos = static_cast<uint64_t>(f) * span;
        const auto whole = static_cast<uint32_t>(pos / steps);
        const auto part = static_cast<int64_t>(pos % steps);
        const int16_t* a = in + static_cast<std::size_t>(whole) * channels;
        const int16_t* b = whole + 1 < inFrames ? a + channels : a;
        for (uint32_t c = 0; c < channels; ++c) {
            const int64_t mixed =
                a[c] + (static_cast<int64_t>(b[c] - a[c]) * part) / static_cast<int64_t>(steps);
            out[static_cast<std::size_t>(f) * channels + c] = static_cast<int16_t>(mixed);
        }
    }
}

} // namespace tavrin::record
