// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/net/CurlHttpGet.h"

#include "HttpsTestServer.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeUpdatePorts.h"
#include "fakes/TempDir.h"
#include "update/SettingsKey.h"
#include "update/UpdateCheck.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tavrin;
namespace tt = tavrin::testing;
using update::SettingsKey;
using update::UpdateCheck;

namespace {

constexpr uint32_t kNow = 18000000;
const std::string kVersionPath = "tavrin/tavrin_capture_version.txt";
const std::string kVersion5 = "tavrin 1\nver 5\nurl https://example.test/download\neof\n";

// Shared by the tests of one process: certificates and two servers, one whose
// certificate names 127.0.0.1 and one whose certificate names another host.
struct Environment {
    tt::TempDir dir;
    tt::TestCertificates certificates{dir.path() / "pki"};
    std::unique_ptr<tt::HttpsTestServer> server;
    std::unique_ptr<tt::HttpsTestServer> otherName;

    Environment() {
        certificates.makeServer("local", "IP:127.0.0.1");
        certificates.makeServer("elsewhere", "DNS:elsewhere.test");
        server = std::make_unique<tt::HttpsTestServer>(dir.path() / "local", certificates.certFile("local"),
                                                       certificates.keyFile("local"));
        otherName = std::make_unique<tt::HttpsTestServer>(
            dir.path() / "elsewhere", certificates.certFile("elsewhere"), certificates.keyFile("elsewhere"));
    }
};

class HttpsUpdateCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { env = new Environment; }
    static void TearDownTestSuite() {
        delete env;
        env = nullptr;
    }
    void SetUp() override {
        env->server->clearLog();
        std::filesystem::remove(env->server->docroot() / "redirect");
        env->server->serve(kVersionPath, kVersion5);
    }

    net::UpdateServer trusted(int port) const {
        net::UpdateServer s;
        s.host = "127.0.0.1";
        s.port = port;
        s.caFile = env->certificates.caFile();
        s.systemProxy = false;
        s.timeoutSeconds = 10;
        return s;
    }

    std::string folder() const { return keys.folder() + "Tavrin Capture/"; }
    uint32_t value(const std::string& name) const {
        bool created = false;
        auto key = SettingsKey::open(folder(), created);
        return key ? key->readDword(name) : 0xDEADBEEF;
    }
    void setValue(const std::string& name, uint32_t v) const {
        bool created = false;
        auto key = SettingsKey::open(folder(), created);
        ASSERT_TRUE(key);
        key->writeDword(name, v);
    }

    // One program run against `server`.
    void run(const net::UpdateServer& server, uint32_t now = kNow) {
        net::CurlHttpGet http(server);
        UpdateCheck check(folder(), http, prompt, [now] { return now; });
        check.scheduleUpdateCheck();
        check.waitForCheck();
    }

    static Environment* env;
    tt::TempDir keys;
    tt::FakeUpdatePrompt prompt;
    tt::DiagnosticCapture diagnostics;
};

Environment* HttpsUpdateCheck::env = nullptr;

} // namespace

TEST_F(HttpsUpdateCheck, FirstStartAsksOnceForANewVersionAndNotAgain) {
    run(trusted(env->server->port()));
    EXPECT_EQ(value("DisableUpdateCheck"), 0u);
    EXPECT_EQ(value("LastChecked"), kNow);
    EXPECT_EQ(value("LastVersionSeen"), 5u);
    EXPECT_EQ(prompt.urls(), std::vector<std::string>{"https://example.test/download"});
    EXPECT_EQ(env->server->requestLog(), "updateCheck /tavrin/tavrin_capture_version.txt\n");
    EXPECT_EQ(diagnostics.text(), "software update check\nconnect\nopenrequest\nsendrequest\nfound v5\n");

    run(trusted(env->server->port()), kNow + 48);
    EXPECT_EQ(prompt.urls().size(), 1u);
    EXPECT_EQ(diagnostics.count("found v5"), 2);
}

TEST_F(HttpsUpdateCheck, DisabledMakesNoConnection) {
    setValue("DisableUpdateCheck", 1);
    setValue("LastChecked", 7);
    run(trusted(env->server->port()));
    EXPECT_EQ(env->server->requestLog(), "");
    EXPECT_EQ(value("LastChecked"), 7u);
}

TEST_F(HttpsUpdateCheck, FortySevenHoursAreTooSoonFortyEightAreNot) {
    setValue("LastChecked", kNow - 47);
    run(trusted(env->server->port()));
    EXPECT_EQ(env->server->requestLog(), "");
    setValue("LastChecked", kNow - 48);
    run(trusted(env->server->port()));
    EXPECT_NE(env->server->requestLog(), "");
    EXPECT_EQ(value("LastChecked"), kNow);
}

TEST_F(HttpsUpdateCheck, WhatTheFileSaysDecidesTheOutcome) {
    env->server->serve(kVersionPath, "tavrin 1\nver 5\nurl https://example.test/\n");
    run(trusted(env->server->port()));
    EXPECT_EQ(value("LastVersionSeen"), 0u) << "without eof nothing changes";
    EXPECT_TRUE(prompt.urls().empty());

    env->server->serve(kVersionPath, "tavrin 1\nver 3\nurl https://example.test/3\neof\n");
    run(trusted(env->server->port()), kNow + 48);
    EXPECT_EQ(value("LastVersionSeen"), 3u);
    EXPECT_TRUE(prompt.urls().empty()) << "3 is not newer than this release";

    env->server->serve(kVersionPath, "tavrin 1\nver 0x10\nurl https://example.test/16\neof\n");
    run(trusted(env->server->port()), kNow + 96);
    EXPECT_EQ(value("LastVersionSeen"), 16u);
    EXPECT_EQ(prompt.urls(), std::vector<std::string>{"https://example.test/16"});
}

TEST_F(HttpsUpdateCheck, KeepsOnlyTheFirst2047BytesOfALongBody) {
    env->server->serve(kVersionPath, kVersion5 + std::string(100000, '#'));
    run(trusted(env->server->port()));
    EXPECT_EQ(prompt.urls().size(), 1u);

    env->server->serve(kVersionPath, std::string(2040, '\n') + kVersion5);
    run(trusted(env->server->port()), kNow + 48);
    EXPECT_EQ(diagnostics.count("found"), 1);
}

TEST_F(HttpsUpdateCheck, ACertificateTheSystemDoesNotTrustIsRefused) {
    net::UpdateServer systemTrust = trusted(env->server->port());
    systemTrust.caFile.clear(); // the system's store: our test authority is not in it
    run(systemTrust);
    EXPECT_EQ(diagnostics.count("found"), 0);
    EXPECT_TRUE(prompt.urls().empty());
    EXPECT_EQ(env->server->requestLog(), "") << "no request went out over the refused connection";
    EXPECT_EQ(value("LastChecked"), kNow) << "a failed check still counts";
}

TEST_F(HttpsUpdateCheck, ACertificateForAnotherNameIsRefused) {
    run(trusted(env->otherName->port()));
    EXPECT_EQ(diagnostics.count("found"), 0);
    EXPECT_EQ(env->otherName->requestLog(), "");
}

TEST_F(HttpsUpdateCheck, RedirectsAreFollowedOnlyToHttps) {
    const std::string moved = "127.0.0.1:" + std::to_string(env->server->port()) + "/moved/version.txt";
    env->server->serve("moved/version.txt", "tavrin 1\nver 6\nurl https://example.test/6\neof\n");

    env->server->serve("redirect", "http://" + moved);
    run(trusted(env->server->port()));
    EXPECT_EQ(diagnostics.count("found"), 0);
    EXPECT_EQ(env->server->requestLog(), "updateCheck /tavrin/tavrin_capture_version.txt\n")
        << "the plain-http address was never asked for";

    env->server->serve("redirect", "https://" + moved);
    run(trusted(env->server->port()), kNow + 48);
    EXPECT_EQ(diagnostics.count("found v6"), 1);
}

TEST_F(HttpsUpdateCheck, WithoutAHostTheCheckEndsQuietlyAfterWritingLastChecked) {
    net::UpdateServer none;
    none.host = "";
    run(none);
    EXPECT_EQ(diagnostics.text(), "software update check\n");
    EXPECT_EQ(value("LastChecked"), kNow);
}

TEST_F(HttpsUpdateCheck, AServerThatNeverAnswersIsGivenUpAfterTheTimeLimit) {
    // A socket that listens but never completes TLS.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

    net::UpdateServer silent = trusted(ntohs(addr.sin_port));
    silent.timeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    run(silent);
    const auto took = std::chrono::steady_clock::now() - start;
    ::close(fd);
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_EQ(diagnostics.count("found"), 0);
}

TEST_F(HttpsUpdateCheck, EndingTheProgramCancelsACheckThatWaits) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

    net::UpdateServer silent = trusted(ntohs(addr.sin_port));
    silent.timeoutSeconds = 60;
    const auto start = std::chrono::steady_clock::now();
    {
        net::CurlHttpGet http(silent);
        UpdateCheck check(folder(), http, prompt, [] { return kNow; });
        check.scheduleUpdateCheck();
        // By now the check waits for an answer that never comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } // the check is cancelled and joined here
    ::close(fd);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
