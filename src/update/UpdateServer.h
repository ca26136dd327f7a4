// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace tavrin::update {

// Where the update check asks, and how; each platform's request takes what applies to it.
struct UpdateServer {
    std::string host; // empty: no server; the request fails at its first step
    int port = 443;
    std::string caFile;       // certificate authorities to trust; empty: the system's (libcurl only)
    long timeoutSeconds = 30; // for the whole request, redirects included
    bool systemProxy = true;  // the proxy settings of the user's environment
    std::size_t maxBodyBytes = 2047;
};

// An answer's body as the request receives it, kept up to a limit (the rest is not
// wanted), then handed to the check in pieces.
class ReceivedBody {
  public:
    // A new answer, of which at most `limit` bytes are kept.
    void start(std::size_t limit) {
        bytes_.clear();
        limit_ = limit;
        readOffset_ = 0;
        brokenOff_ = false;
    }
    // How many more bytes are wanted.
    std::size_t room() const { return limit_ - std::min(bytes_.size(), limit_); }
    // Keeps what fits of `n` bytes; returns how many were kept.
    std::size_t append(const char* data, std::size_t n) {
        const std::size_t take = std::min(n, room());
        bytes_.append(data, take);
        return take;
    }
    // The transfer broke off after the server answered: reading reports it at the end.
    void breakOff() { brokenOff_ = true; }
    // Copies the next bytes, at most `max`: the count, 0 at the end (or when `max` is 0),
    // -1 at the end of a body that broke off.
    long read(char* buffer, std::size_t max) {
        const std::size_t left = bytes_.size() - readOffset_;
        if (left == 0 || max == 0)
            return brokenOff_ && left == 0 ? -1 : 0;
        const std::size_t n = std::min(left, max);
        std::memcpy(buffer, bytes_.data() + readOffset_, n);
        readOffset_ += n;
        return static_cast<long>(n);
    }

  private:
    std::string bytes_;
    std::size_t limit_ = 0;
    std::size_t readOffset_ = 0;
    bool brokenOff_ = false;
};

} // namespace tavrin::update
