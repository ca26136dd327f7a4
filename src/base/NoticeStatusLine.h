// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/StatusLine.h"

#include <mutex>
#include <string>

namespace tavrin::base {

// The status line with room for a notice the user must get to see (a damaged
// settings file). The notice stays until the first other status; the connection
// state, which arrives by itself at start and whenever the board comes or goes,
// is shown above it meanwhile instead of hiding it. Callable from any thread,
// like the line it writes to.
class NoticeStatusLine final : public StatusLine {
  public:
    explicit NoticeStatusLine(StatusLine& line) : line_(line) {}

    void showNotice(const std::string& notice);
    // "Connected" or "Not connected", with the notice below while it stands.
    void setConnectionStatus(const std::string& text);
    // Any other status: replaces the notice for good.
    void setStatusText(const std::string& text) override;

  private:
    StatusLine& line_;
    std::mutex mutex_;
    std::string notice_;
};

} // namespace tavrin::base
