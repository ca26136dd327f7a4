#pragma once

#include <string>

namespace tavrin::screenshot {

// The control window's status line as background work sees it.
class StatusLine {
  public:
    virtual ~StatusLine() = default;
    // Callable from any thread; the window shows the text later on its own thread.
    virtual void setStatusText(const std::string& text) = 0;
};

} // namespace tavrin::screenshot
