// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/SizingTracker.h"

namespace tavrin::display {

namespace {

bool sameSize(const WindowRect& a, const WindowRect& b) {
    return a.width() == b.width() && a.height() == b.height();
}

} // namespace

void SizingTracker::settle(const WindowRect& rect) {
    last_ = rect;
    start_.reset();
}

SizingTracker::Report SizingTracker::resized(const WindowRect& now) {
    if (!last_) {
        settle(now);
        return Report::Unchanged;
    }
    const WindowRect before = *last_;
    last_ = now;
    if (sameSize(now, before))
        return Report::Unchanged;
    if (awaitingAnswer_) {
        // The rule is not idempotent (271 becomes 270 x 405, and 270 would snap
        // to 256): a granted or refused request is never run through it again.
        start_.reset();
        return Report::Answer;
    }
    if (!start_)
        start_ = before;
    return Report::Sizing;
}

void SizingTracker::moved(const WindowRect& now) {
    if (last_ && sameSize(now, *last_))
        last_ = now;
}

std::optional<SizingTracker::Step> SizingTracker::finish() {
    if (!start_ || !last_)
        return std::nullopt;
    Step step;
    step.target = *last_;
    step.size = applySizingRule(width_, height_, 0, 0, inferSizingEdge(*start_, *last_), step.target);
    step.correct = !(step.target == *last_);
    start_.reset();
    awaitingAnswer_ = step.correct;
    return step;
}

} // namespace tavrin::display
