// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::base {

// The control window's status line. Whoever writes last wins. Callable from any
// thread: a call from another thread is handed over to the window's thread.
class StatusLine {
  public:
    virtual ~StatusLine() = default;
    virtual void setStatusText(const std::string& text) = 0;
};

} // namespace tavrin::base
