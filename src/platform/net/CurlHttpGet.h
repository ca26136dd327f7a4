// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "update/HttpGet.h"
#include "update/UpdateServer.h"

#include <atomic>
#include <string>

namespace tavrin::net {

using UpdateServer = update::UpdateServer;

// The build's update server (TAVRIN_UPDATE_HOST, port 443, the system's certificates).
UpdateServer defaultUpdateServer();

// The update check's GET with libcurl: HTTPS only, redirects included; the
// server's certificate and name are always checked. Runs on the check thread;
// cancel() may come from any thread.
class CurlHttpGet : public update::HttpGet {
  public:
    explicit CurlHttpGet(UpdateServer server = defaultUpdateServer());
    ~CurlHttpGet() override;
    CurlHttpGet(const CurlHttpGet&) = delete;
    CurlHttpGet& operator=(const CurlHttpGet&) = delete;

    bool open(const std::string& userAgent) override;
    bool connect() override;
    bool openRequest(const std::string& path) override;
    bool sendRequest() override;
    long readBody(char* buffer, std::size_t max) override;
    void close() override;
    void cancel() override;

  private:
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, long long, long long, long long, long long);

    UpdateServer server_;
    void* curl_ = nullptr; // CURL*, kept out of the header
    std::string userAgent_;
    std::string url_;
    update::ReceivedBody body_;
    bool bodyCut_ = false; // the body went on past maxBodyBytes
    std::atomic<bool> cancelled_{false};
};

} // namespace tavrin::net
