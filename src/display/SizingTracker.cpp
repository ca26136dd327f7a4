// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/SizingTracker.h"

#include "display/WindowPlacement.h"

#include <algorithm>

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

std::optional<SizingTracker::Step> SizingTracker::finish(int64_t maxWidth, int64_t maxHeight,
                                                         bool wholeMultiples) {
    if (!start_ || !last_)
        return std::nullopt;
    Step step;
    step.target = *last_;
    const SizingEdge edge = inferSizingEdge(*start_, *last_);
    step.size = applySizingRule(width_, height_, 0, 0, edge, step.target);
    ClientSize fitted;
    if (wholeMultiples) {
        // The nearest whole multiple of the picture, as long as it fits.
        const int64_t room = std::min(maxWidth / width_, maxHeight / height_);
        const int64_t k =
            std::clamp<int64_t>((step.size.width + width_ / 2) / width_, 1, std::max<int64_t>(room, 1));
        fitted = {static_cast<int32_t>(k * width_), static_cast<int32_t>(k * height_)};
    } else {
        fitted = fitClientSize(width_, height_, step.size, maxWidth, maxHeight);
    }
    if (!(fitted == step.size)) {
        // Snapping up must not push the window off the screen: the largest size that
        // fits, from the same fixed corner.
        const bool fromLeft =
            edge == SizingEdge::Left || edge == SizingEdge::TopLeft || edge == SizingEdge::BottomLeft;
        const bool fromTop =
            edge == SizingEdge::Top || edge == SizingEdge::TopLeft || edge == SizingEdge::TopRight;
        step.size = fitted;
        step.target = *last_;
        if (fromLeft)
            step.target.left = last_->right - fitted.width;
        else
            step.target.right = last_->left + fitted.width;
        if (fromTop)
            step.target.top = last_->bottom - fitted.height;
        else
            step.target.bottom = last_->top + fitted.height;
    }
    step.correct = !(step.target == *last_);
    start_.reset();
    awaitingAnswer_ = step.correct;
    return step;
}

} // namespace tavrin::display
