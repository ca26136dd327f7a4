// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/SizingRule.h"

#include <cstdint>
#include <optional>

namespace tavrin::display {

// Applies the sizing rule where the window system reports a resize only after it
// happened (X11, Wayland) and the window manager, not the program, runs the drag.
// The sizes on the way are the window manager's; when the user lets go, the rule
// is applied once to the whole drag, and what it asks for is a request: whatever
// size the window gets in answer is taken as it is, never corrected again.
class SizingTracker {
  public:
    enum class Report {
        Unchanged, // same size (perhaps moved)
        Sizing,    // a step of a user's resize
        Answer,    // the window system's answer to the last request
    };
    struct Step {
        ClientSize size;      // what the rule made of the drag
        WindowRect target;    // the client rectangle to ask for
        bool correct = false; // target differs from where the drag ended
    };

    SizingTracker(int32_t width, int32_t height) : width_(width), height_(height) {}

    // The window is at `rect` for a reason other than the user sizing it (creation,
    // leaving full screen): the next size change is measured from here.
    void settle(const WindowRect& rect);

    // The client rectangle is now `now`.
    Report resized(const WindowRect& now);
    // The window moved; a change of size is left to resized().
    void moved(const WindowRect& now);

    // A resize is under way and has not been finished.
    bool sizing() const { return start_.has_value(); }

    // The user let go. Empty when no resize was under way; otherwise the rule's
    // verdict on the drag from its start to where it ended, brought within
    // maxWidth x maxHeight (the screen's room for a client area); with
    // `wholeMultiples`, the nearest whole multiple of the picture that fits. When that
    // is a correction, sizes reported until answerWindowClosed() are the answer.
    std::optional<Step> finish(int64_t maxWidth = INT32_MAX, int64_t maxHeight = INT32_MAX,
                               bool wholeMultiples = false);

    // The program asked for a size of its own: sizes reported until
    // answerWindowClosed() are the answer.
    void requested() {
        start_.reset();
        awaitingAnswer_ = true;
    }

    // Sizes reported from now on are the user's again.
    void answerWindowClosed() { awaitingAnswer_ = false; }
    bool awaitingAnswer() const { return awaitingAnswer_; }

  private:
    int32_t width_;
    int32_t height_;
    std::optional<WindowRect> last_;
    std::optional<WindowRect> start_; // where the current resize began
    bool awaitingAnswer_ = false;
};

} // namespace tavrin::display
