// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace tavrin::base {

// Hands diagnostic text from any thread to the console window's thread. Writers
// append and wake the reader only when the buffer was empty, so a burst of lines
// costs one wake-up. At most the newest `maxLines` lines are kept when the reader
// falls behind.
class DiagnosticBuffer {
  public:
    explicit DiagnosticBuffer(std::size_t maxLines);

    // True when the caller must wake the reader (the buffer was empty before).
    bool append(std::string_view text);
    // Everything appended since the last take, oldest first.
    std::string take();
    void clear();

  private:
    const std::size_t maxLines_;
    std::mutex mutex_;
    std::string text_;
    std::size_t lines_ = 0; // line feeds in text_
};

} // namespace tavrin::base
