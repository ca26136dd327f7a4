// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/DiagnosticBuffer.h"

#include <algorithm>

namespace tavrin::base {

DiagnosticBuffer::DiagnosticBuffer(std::size_t maxLines) : maxLines_(maxLines) {}

bool DiagnosticBuffer::append(std::string_view text) {
    if (text.empty())
        return false;
    std::lock_guard lk(mutex_);
    const bool wasEmpty = text_.empty();
    text_.append(text);
    lines_ += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (lines_ > maxLines_) {
        // Drop whole lines from the front until maxLines_ complete lines remain.
        std::size_t drop = lines_ - maxLines_;
        std::size_t pos = 0;
        while (drop > 0) {
            pos = text_.find('\n', pos) + 1;
            --drop;
        }
        text_.erase(0, pos);
        lines_ = maxLines_;
    }
    return wasEmpty;
}

std::string DiagnosticBuffer::take() {
    std::lock_guard lk(mutex_);
    std::string out;
    out.swap(text_);
    lines_ = 0;
    return out;
}

void DiagnosticBuffer::clear() {
    (void)take();
}

} // namespace tavrin::base
