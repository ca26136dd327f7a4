// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace tavrin::testing {

// A certificate authority that only these tests trust, and server certificates
// it signed, made with openssl in `folder`.
class TestCertificates {
  public:
    explicit TestCertificates(const std::filesystem::path& folder);
    // A key and certificate for `subjectAltName` (e.g. "IP:127.0.0.1"), signed by the test CA.
    void makeServer(const std::string& name, const std::string& subjectAltName) const;
    std::string caFile() const { return (folder_ / "ca.pem").string(); }
    std::string certFile(const std::string& name) const { return (folder_ / (name + ".pem")).string(); }
    std::string keyFile(const std::string& name) const { return (folder_ / (name + ".key")).string(); }

  private:
    std::filesystem::path folder_;
};

// python3's http.server behind TLS on 127.0.0.1 and a free port, serving the
// files of `docroot`. A file "redirect" in docroot turns every GET below /tavrin/
// into a 302 to the address it holds. Each request is logged as "<user agent> <path>".
// The process is stopped (and waited for) by the destructor; it also ends by
// itself if this process dies.
class HttpsTestServer {
  public:
    HttpsTestServer(const std::filesystem::path& folder, const std::string& certFile,
                    const std::string& keyFile);
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    int port() const { return port_; }
    const std::filesystem::path& docroot() const { return docroot_; }
    // Sets the body served at `path` (below docroot).
    void serve(const std::string& path, const std::string& body) const;
    std::string requestLog() const;
    void clearLog() const;

  private:
    std::filesystem::path folder_;
    std::filesystem::path docroot_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace tavrin::testing
