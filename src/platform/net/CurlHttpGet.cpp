// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/net/CurlHttpGet.h"

#include "base/Diagnostics.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace tavrin::net {

namespace {

CURL* handle(void* p) {
    return static_cast<CURL*>(p);
}

} // namespace

UpdateServer defaultUpdateServer() {
    UpdateServer server;
    server.host = TAVRIN_UPDATE_HOST;
    return server;
}

CurlHttpGet::CurlHttpGet(UpdateServer server) : server_(std::move(server)) {
    // Made on the main thread before any check thread exists, as libcurl asks.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlHttpGet::~CurlHttpGet() {
    close();
}

bool CurlHttpGet::open(const std::string& userAgent) {
    close();
    if (server_.host.empty() || cancelled_)
        return false;
    curl_ = curl_easy_init();
    userAgent_ = userAgent;
    return curl_ != nullptr;
}

bool CurlHttpGet::connect() {
    if (!curl_ || server_.port <= 0 || server_.port > 65535)
        return false;
    url_ = "https://" + server_.host + ":" + std::to_string(server_.port);
    return true;
}

bool CurlHttpGet::openRequest(const std::string& path) {
    if (!curl_ || url_.empty() || path.empty() || path[0] != '/')
        return false;
    CURL* c = handle(curl_);
    const std::string url = url_ + path;
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, userAgent_.c_str()) == CURLE_OK;
    // HTTPS and nothing else, also where a redirect points.
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (!server_.caFile.empty())
        ok = ok && curl_easy_setopt(c, CURLOPT_CAINFO, server_.caFile.c_str()) == CURLE_OK;
    if (!server_.systemProxy)
        ok = ok && curl_easy_setopt(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT, server_.timeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, std::min(server_.timeoutSeconds, 15L)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK; // no SIGALRM in a threaded program
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CurlHttpGet::onBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CurlHttpGet::onProgress) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFODATA, this) == CURLE_OK;
    return ok;
}

std::size_t CurlHttpGet::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* me = static_cast<CurlHttpGet*>(self);
    const std::size_t n = size * count;
    const std::size_t take = me->body_.append(data, n);
    if (take < n) {
        // Enough: the rest is not wanted. Returning short makes libcurl stop.
        me->bodyCut_ = true;
        return take;
    }
    return n;
}

int CurlHttpGet::onProgress(void* self, long long, long long, long long, long long) {
    return static_cast<CurlHttpGet*>(self)->cancelled_ ? 1 : 0;
}

bool CurlHttpGet::sendRequest() {
    if (!curl_ || cancelled_)
        return false;
    body_.start(server_.maxBodyBytes);
    bodyCut_ = false;
    const CURLcode result = curl_easy_perform(handle(curl_));
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && bodyCut_))
        return true;
    base::updateLog.warning("update check: %s\n", curl_easy_strerror(result));
    long status = 0;
    curl_easy_getinfo(handle(curl_), CURLINFO_RESPONSE_CODE, &status);
    if (status == 0)
        return false; // no answer at all
    // The server answered but the body broke off: reading it reports the failure.
    body_.breakOff();
    return true;
}

long CurlHttpGet::readBody(char* buffer, std::size_t max) {
    return body_.read(buffer, max);
}

void CurlHttpGet::close() {
    if (curl_)
        curl_easy_cleanup(handle(curl_));
    curl_ = nullptr;
    url_.clear();
}

void CurlHttpGet::cancel() {
    cancelled_ = true;
}

} // namespace tavrin::net
