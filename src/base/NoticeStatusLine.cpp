// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/NoticeStatusLine.h"

namespace tavrin::base {

void NoticeStatusLine::showNotice(const std::string& notice) {
    std::lock_guard lk(mutex_);
    notice_ = notice;
    line_.setStatusText(notice_);
}

void NoticeStatusLine::setConnectionStatus(const std::string& text) {
    std::lock_guard lk(mutex_);
    line_.setStatusText(notice_.empty() ? text : text + "\n" + notice_);
}

void NoticeStatusLine::setStatusText(const std::string& text) {
    std::lock_guard lk(mutex_);
    notice_.clear();
    line_.setStatusText(text);
}

} // namespace tavrin::base
