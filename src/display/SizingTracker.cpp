#include "display/SizingTracker.h"

namespace tavrin::display {

namespace {

bool sameSize(const WindowRect& a, const WindowRect& b) {
    return a.width() == b.width() && a.height() == b.height();
}

} // namespace

void SizingTracker::settle(const WindowRect& rect) {
    last_ = rect;
    corrected_.reset();
    requested_.reset();
}

std::optional<SizingTracker::Step> SizingTracker::resized(const WindowRect& now) {
    if (!last_) {
        settle(now);
        return std::nullopt;
    }
    const WindowRect before = *last_;
    last_ = now;
    if (sameSize(now, before))
        return std::nullopt; // moved, not sized
    if (requested_ && sameSize(now, *requested_)) {
        // Our correction arrived (perhaps placed elsewhere). The rule is not
        // idempotent, so it must not be run on its own result again.
        requested_.reset();
        return std::nullopt;
    }
    if (corrected_ && sameSize(now, *corrected_)) {
        // The window system sent back the size it had proposed: keep it rather than
        // asking again and again.
        corrected_.reset();
        requested_.reset();
        return std::nullopt;
    }
    Step step;
    step.target = now;
    step.size = applySizingRule(width_, height_, 0, 0, inferSizingEdge(before, now), step.target);
    step.correct = !(step.target == now);
    if (step.correct) {
        corrected_ = now;
        requested_ = step.target;
    } else {
        corrected_.reset();
        requested_.reset();
    }
    return step;
}

} // namespace tavrin::display
