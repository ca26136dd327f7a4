#pragma once

#include "display/SizingRule.h"

#include <optional>

namespace tavrin::display {

// Applies the sizing rule where the window system reports a resize only after it
// happened (X11, Wayland): each new client rectangle of a normal window is checked
// against the rule, and a corrected rectangle is asked for when it does not fit.
// A granted correction causes no further one; a window manager that refuses the
// correction and sends its own proposal back is accepted instead of being fought.
class SizingTracker {
  public:
    struct Step {
        ClientSize size;      // what the rule made of the proposal
        WindowRect target;    // the client rectangle to move to
        bool correct = false; // target differs from the proposal
    };

    SizingTracker(int32_t width, int32_t height) : width_(width), height_(height) {}

    // The window is at `rect` for a reason other than the user sizing it (creation,
    // leaving full screen): the next size change is measured from here.
    void settle(const WindowRect& rect);

    // The client rectangle changed to `now`. Empty when the size did not change or
    // when the window system insisted on a size the rule had corrected.
    std::optional<Step> resized(const WindowRect& now);

  private:
    int32_t width_;
    int32_t height_;
    std::optional<WindowRect> last_;
    std::optional<WindowRect> corrected_; // the last proposal that was corrected
    std::optional<WindowRect> requested_; // what it was corrected to
};

} // namespace tavrin::display
