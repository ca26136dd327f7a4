// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32HttpGet.h"

#include "base/Diagnostics.h"
#include "platform/win32/Win32Text.h"

#include <algorithm>
#include <atomic>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <wininet.h>

namespace tavrin::win32 {

namespace {

constexpr int kMaxRedirects = 5;

HINTERNET handle(void* p) {
    return static_cast<HINTERNET>(p);
}

// The failure in the words the update check uses on every system, so that a line
// in the debug output reads the same whichever client made the request.
const char* describeError(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "Couldn't resolve host name";
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "Couldn't connect to server";
    case ERROR_INTERNET_TIMEOUT:
        return "Timeout was reached";
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return "Operation was aborted by an application callback";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return "SSL peer certificate or SSH remote key was not OK";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return "SSL connect error";
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
        return "Unsupported protocol";
    case ERROR_HTTP_REDIRECT_FAILED:
        return "Number of redirects hit maximum amount";
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
        return "Failure when receiving data from the peer";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return "Weird server reply";
    default:
        return "Failure";
    }
}

void warn(DWORD error) {
    base::updateLog.warning("update check: %s (WinINet error %lu)\n", describeError(error),
                            static_cast<unsigned long>(error));
}

} // namespace

UpdateServer defaultUpdateServer() {
    UpdateServer server;
    server.host = TAVRIN_UPDATE_HOST;
    return server;
}

// One request's completion as WinINet's callback reports it. WinINet may still hold
// the request (and write into `buffer`) after its handle is closed, so the record
// has two owners: this object until it closes the handle, and WinINet until it
// reports the handle closing. A request stuck for good keeps its record; the
// process ends anyway.
struct Win32HttpGet::Pending {
    HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> result{0};
    std::atomic<DWORD> error{0};
    std::atomic<int> owners{2};
    DWORD count = 0;
    char buffer[4096];

    ~Pending() {
        if (done)
            ::CloseHandle(done);
    }
    void release() {
        if (owners.fetch_sub(1) == 1)
            delete this;
    }

    static void CALLBACK callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
        auto* self = reinterpret_cast<Pending*>(context);
        if (!self)
            return; // the session's and the connection's own notices
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            self->error = outcome->dwError;
            self->result = static_cast<DWORD>(outcome->dwResult);
            ::SetEvent(self->done);
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            self->release();
        }
    }
};

Win32HttpGet::Win32HttpGet(UpdateServer server)
    : server_(std::move(server)), cancelEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Win32HttpGet::~Win32HttpGet() {
    close();
    if (cancelEvent_)
        ::CloseHandle(cancelEvent_);
}

bool Win32HttpGet::open(const std::string& userAgent) {
    close();
    if (server_.host.empty() || !cancelEvent_ || ::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0)
        return false;
    const DWORD access = server_.systemProxy ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_DIRECT;
    session_ = ::InternetOpenW(widen(userAgent).c_str(), access, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (!session_)
        return false;
    if (::InternetSetStatusCallbackW(handle(session_), &Pending::callback) ==
        INTERNET_INVALID_STATUS_CALLBACK) {
        close();
        return false;
    }
    // WinINet's own limits, for each step; the whole request has its own below.
    DWORD whole = static_cast<DWORD>(std::max(server_.timeoutSeconds, 1L) * 1000);
    DWORD connecting = std::min<DWORD>(whole, 15000);
    ::InternetSetOptionW(handle(session_), INTERNET_OPTION_CONNECT_TIMEOUT, &connecting, sizeof connecting);
    ::InternetSetOptionW(handle(session_), INTERNET_OPTION_SEND_TIMEOUT, &whole, sizeof whole);
    ::InternetSetOptionW(handle(session_), INTERNET_OPTION_RECEIVE_TIMEOUT, &whole, sizeof whole);
    return true;
}

bool Win32HttpGet::connect() {
    if (!session_ || server_.port <= 0 || server_.port > 65535)
        return false;
    return connectTo(widen(server_.host), server_.port);
}

bool Win32HttpGet::connectTo(const std::wstring& host, int port) {
    if (connection_)
        ::InternetCloseHandle(handle(connection_));
    // Context 0: the connection's notices are not needed, only the request's.
    connection_ = ::InternetConnectW(handle(session_), host.c_str(), static_cast<INTERNET_PORT>(port),
                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    host_ = host;
    port_ = port;
    return connection_ != nullptr;
}

bool Win32HttpGet::openRequest(const std::string& path) {
    if (!connection_ || path.empty() || path[0] != '/')
        return false;
    return openRequestFor(widen(path));
}

bool Win32HttpGet::openRequestFor(const std::wstring& path) {
    closeRequest();
    // Never a flag that lets a certificate or name error pass, and no dialog about one.
    const DWORD flags = INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT;
    pending_ = new Pending;
    request_ = ::HttpOpenRequestW(handle(connection_), L"GET", path.c_str(), nullptr, nullptr, nullptr, flags,
                                  reinterpret_cast<DWORD_PTR>(pending_));
    if (!request_) {
        const DWORD error = ::GetLastError();
        pending_->release(); // WinINet never took its share
        pending_->release();
        pending_ = nullptr;
        ::SetLastError(error);
        return false;
    }
    return pending_->done != nullptr;
}

void Win32HttpGet::closeRequest() {
    if (request_)
        ::InternetCloseHandle(handle(request_));
    request_ = nullptr;
    if (pending_)
        pending_->release();
    pending_ = nullptr;
}

bool Win32HttpGet::waitForCompletion(unsigned long& error) {
    const uint64_t now = ::GetTickCount64();
    const DWORD left =
        now < deadline_ ? static_cast<DWORD>(std::min<uint64_t>(deadline_ - now, INFINITE - 1)) : 0;
    HANDLE events[2] = {pending_->done, cancelEvent_};
    switch (::WaitForMultipleObjects(2, events, FALSE, left)) {
    case WAIT_OBJECT_0:
        error = pending_->error;
        return pending_->result != 0;
    case WAIT_OBJECT_0 + 1:
        error = ERROR_INTERNET_OPERATION_CANCELLED;
        return false;
    default:
        error = ERROR_INTERNET_TIMEOUT;
        return false;
    }
}

bool Win32HttpGet::send(unsigned long& error) {
    // A notice left from an operation that completed at once must not end the next wait.
    ::ResetEvent(pending_->done);
    if (::HttpSendRequestW(handle(request_), nullptr, 0, nullptr, 0))
        return true;
    error = ::GetLastError();
    return error == ERROR_IO_PENDING && waitForCompletion(error);
}

bool Win32HttpGet::sendRequest() {
    if (!request_ || ::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0)
        return false;
    body_.start(server_.maxBodyBytes);
    deadline_ = ::GetTickCount64() + static_cast<uint64_t>(std::max(server_.timeoutSeconds, 1L)) * 1000;
    for (int redirects = 0;; ++redirects) {
        unsigned long error = 0;
        if (!send(error)) {
            warn(error);
            return false;
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        ::HttpQueryInfoW(handle(request_), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                         nullptr);
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (!redirect)
            break;
        if (redirects == kMaxRedirects) {
            warn(ERROR_HTTP_REDIRECT_FAILED);
            return false;
        }
        if (!followRedirect(error)) {
            warn(error);
            return false;
        }
    }
    readWholeBody();
    return true;
}

bool Win32HttpGet::followRedirect(unsigned long& error) {
    error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    DWORD bytes = 0;
    ::HttpQueryInfoW(handle(request_), HTTP_QUERY_LOCATION, nullptr, &bytes, nullptr);
    if (bytes == 0)
        return false;
    std::wstring location(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(handle(request_), HTTP_QUERY_LOCATION, location.data(), &bytes, nullptr))
        return false;
    location.resize(bytes / sizeof(wchar_t));

    std::wstring host = host_;
    int port = port_;
    std::wstring path;
    if (!location.empty() && location[0] == L'/') {
        path = location; // on the same server
    } else {
        wchar_t hostPart[256] = {};
        wchar_t pathPart[2048] = {};
        wchar_t extraPart[2048] = {};
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = hostPart;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = pathPart;
        parts.dwUrlPathLength = 2048;
        parts.lpszExtraInfo = extraPart;
        parts.dwExtraInfoLength = 2048;
        if (!::InternetCrackUrlW(location.c_str(), 0, 0, &parts))
            return false;
        if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
            // Only HTTPS, wherever the server sends us: nothing is asked over plain HTTP.
            error = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
            return false;
        }
        host = hostPart;
        port = parts.nPort;
        path = std::wstring(pathPart) + extraPart;
        if (path.empty())
            path = L"/";
    }
    if ((host != host_ || port != port_) && !connectTo(host, port)) {
        error = ::GetLastError();
        return false;
    }
    if (!openRequestFor(path)) {
        error = ::GetLastError();
        return false;
    }
    return send(error);
}

void Win32HttpGet::readWholeBody() {
    // At most maxBodyBytes are kept; the rest is not asked for.
    while (body_.room() > 0) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof pending_->buffer, body_.room()));
        pending_->count = 0;
        ::ResetEvent(pending_->done);
        unsigned long error = 0;
        bool ok = ::InternetReadFile(handle(request_), pending_->buffer, want, &pending_->count);
        if (!ok) {
            error = ::GetLastError();
            ok = error == ERROR_IO_PENDING && waitForCompletion(error);
        }
        if (!ok) {
            // The server answered but the body broke off: reading it reports the failure.
            warn(error);
            body_.breakOff();
            return;
        }
        if (pending_->count == 0)
            return;
        body_.append(pending_->buffer, std::min<std::size_t>(pending_->count, want));
    }
}

long Win32HttpGet::readBody(char* buffer, std::size_t max) {
    return body_.read(buffer, max);
}

void Win32HttpGet::close() {
    closeRequest();
    if (connection_)
        ::InternetCloseHandle(handle(connection_));
    connection_ = nullptr;
    if (session_)
        ::InternetCloseHandle(handle(session_));
    session_ = nullptr;
}

void Win32HttpGet::cancel() {
    // The check thread's wait wakes and closes the handles itself: it owns them.
    if (cancelEvent_)
        ::SetEvent(cancelEvent_);
}

} // namespace tavrin::win32
