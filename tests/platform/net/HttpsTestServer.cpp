// SPDX-License-Identifier: GPL-2.0-or-later
#include "HttpsTestServer.h"

#include "fakes/Eventually.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tavrin::testing {

namespace {

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

} // namespace

TestCertificates::TestCertificates(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj '/CN=Tavrin Capture test CA' -keyout " +
        quoted(folder_ / "ca.key") + " -out " + quoted(folder_ / "ca.pem"));
}

void TestCertificates::makeServer(const std::string& name, const std::string& subjectAltName) const {
    const auto ext = folder_ / (name + ".ext");
    std::ofstream(ext) << "subjectAltName=" << subjectAltName
                       << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=" + name +
        "' -keyout " + quoted(folder_ / (name + ".key")) + " -out " + quoted(folder_ / (name + ".csr")));
    run("openssl x509 -req -days 2 -in " + quoted(folder_ / (name + ".csr")) + " -CA " +
        quoted(folder_ / "ca.pem") + " -CAkey " + quoted(folder_ / "ca.key") + " -CAcreateserial -extfile " +
        quoted(ext) + " -out " + quoted(folder_ / (name + ".pem")));
}

HttpsTestServer::HttpsTestServer(const std::filesystem::path& folder, const std::string& certFile,
                                 const std::string& keyFile)
    : folder_(folder), docroot_(folder / "docroot") {
    std::filesystem::create_directories(docroot_);
    const std::string script = TAVRIN_HTTPS_TEST_SERVER;
    const auto portFile = folder_ / "port";
    std::filesystem::remove(portFile);

    std::vector<std::string> args = {"python3",
                                     script,
                                     docroot_.string(),
                                     certFile,
                                     keyFile,
                                     portFile.string(),
                                     (folder_ / "requests.log").string()};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "python3", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start python3");

    bool ended = false;
    const bool up = eventually(
        [&] {
            ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
            return ended || std::filesystem::exists(portFile);
        },
        std::chrono::seconds(20));
    if (ended) {
        pid_ = -1;
        throw std::runtime_error("the HTTPS test server ended at start");
    }
    if (!up)
        throw std::runtime_error("the HTTPS test server did not start");
    std::ifstream(portFile) >> port_;
}

HttpsTestServer::~HttpsTestServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void HttpsTestServer::serve(const std::string& path, const std::string& body) const {
    const auto file = docroot_ / path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << body;
}

std::string HttpsTestServer::requestLog() const {
    std::ifstream in(folder_ / "requests.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void HttpsTestServer::clearLog() const {
    std::filesystem::remove(folder_ / "requests.log");
}

} // namespace tavrin::testing
