// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <string>

namespace tavrin::update {

// An HTTPS GET on the update server, in the steps the update check reports.
// The server (host, port, certificates) belongs to the implementation. Steps
// are called in order on one thread; a step that returns false ends the
// request, and `close` then releases whatever the earlier steps set up.
class HttpGet {
  public:
    virtual ~HttpGet() = default;
    // Prepares a client with this user agent and the system's proxy settings.
    virtual bool open(const std::string& userAgent) = 0;
    // Names the server.
    virtual bool connect() = 0;
    // Prepares a GET of `path`.
    virtual bool openRequest(const std::string& path) = 0;
    // Sends the request. True once the server has answered (any status).
    virtual bool sendRequest() = 0;
    // Copies the next bytes of the answer's body, at most `max`. Returns the
    // count, 0 at the end of the body (or when `max` is 0), -1 on failure.
    virtual long readBody(char* buffer, std::size_t max) = 0;
    // Releases everything; harmless when nothing is open.
    virtual void close() = 0;
    // From any thread: makes the request under way, or the next one, fail soon.
    virtual void cancel() = 0;
};

} // namespace tavrin::update
