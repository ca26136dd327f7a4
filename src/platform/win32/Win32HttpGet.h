// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "update/HttpGet.h"
#include "update/UpdateServer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavrin::win32 {

using UpdateServer = update::UpdateServer;

// The build's update server (TAVRIN_UPDATE_HOST, port 443).
UpdateServer defaultUpdateServer();

// The update check's GET through WinINet: HTTPS only, the server's certificate and
// name always checked against the system's trusted roots, redirects followed (at
// most 5) only to https addresses. WinINet runs asynchronously and every wait also
// ends on cancel() or the time limit: Wine's blocking calls neither time out in the
// TLS handshake nor return when another thread closes their handles. Runs on the
// check thread; cancel() may come from any thread.
class Win32HttpGet : public update::HttpGet {
  public:
    explicit Win32HttpGet(UpdateServer server = defaultUpdateServer());
    ~Win32HttpGet() override;
    Win32HttpGet(const Win32HttpGet&) = delete;
    Win32HttpGet& operator=(const Win32HttpGet&) = delete;

    bool open(const std::string& userAgent) override;
    bool connect() override;
    bool openRequest(const std::string& path) override;
    bool sendRequest() override;
    long readBody(char* buffer, std::size_t max) override;
    void close() override;
    void cancel() override;

  private:
    struct Pending;
    bool connectTo(const std::wstring& host, int port);
    bool openRequestFor(const std::wstring& path);
    void closeRequest();
    // Waits for the operation WinINet reported pending; false with `error` set when
    // it failed, was cancelled or ran past the time limit.
    bool waitForCompletion(unsigned long& error);
    bool send(unsigned long& error);
    bool followRedirect(unsigned long& error);
    void readWholeBody();

    UpdateServer server_;
    void* session_ = nullptr;    // HINTERNET from InternetOpen
    void* connection_ = nullptr; // from InternetConnect
    void* request_ = nullptr;    // from HttpOpenRequest
    Pending* pending_ = nullptr; // the request's completion, shared with WinINet's callback
    void* cancelEvent_ = nullptr;
    std::wstring host_;
    int port_ = 0;
    uint64_t deadline_ = 0; // GetTickCount64 at which the request gives up
    update::ReceivedBody body_;
};

} // namespace tavrin::win32
