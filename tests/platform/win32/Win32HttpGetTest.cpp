// SPDX-License-Identifier: GPL-2.0-or-later
// The update check's request through WinINet, against real HTTPS servers that run
// beside Wine (scripts/win32-net-test.sh starts them and names their folder in
// TAVRIN_HTTPS_TEST_DIR): "local" with a certificate for localhost from the test's
// own authority, "elsewhere" with one for another name from the same authority, and
// "stranger" with one for localhost from an authority nobody trusts. The test's
// authority is trusted only while these tests run, in the user's Root store of the
// test's own Wine prefix.
#include "platform/win32/Win32HttpGet.h"

#include "fakes/FakeControlWindow.h"
#include "fakes/FakeUpdatePorts.h"
#include "update/SettingsKey.h"
#include "update/UpdateCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include <winsock2.h>

#include <windows.h>

#include <wincrypt.h>

using namespace tavrin;
namespace tt = tavrin::testing;
using update::SettingsKey;
using update::UpdateCheck;
using win32::UpdateServer;
using win32::Win32HttpGet;

namespace {

constexpr uint32_t kNow = 18000000;
const std::string kVersionPath = "tavrin/tavrin_capture_version.txt";
const std::string kVersion5 = "tavrin 1\nver 5\nurl https://example.test/download\neof\n";
const char* kBadCertificate = "update check: SSL peer certificate or SSH remote key was not OK";

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One of the servers the script started: its folder holds "port", "docroot" and "requests.log".
struct Server {
    std::filesystem::path folder;
    int port = 0;

    explicit Server(const std::filesystem::path& f) : folder(f) { std::ifstream(folder / "port") >> port; }
    void serve(const std::string& path, const std::string& body) const {
        const auto file = folder / "docroot" / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << body;
    }
    std::string requestLog() const { return readFile(folder / "requests.log"); }
    void clearLog() const { std::filesystem::remove(folder / "requests.log"); }
};

// The test authority in the user's Root store, for as long as it lives. The store is
// closed after each change: Wine's chain engine reads the store as last saved.
class TrustedAuthority {
  public:
    explicit TrustedAuthority(const std::filesystem::path& pem) {
        const std::string text = readFile(pem);
        DWORD size = 0;
        if (!::CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                                    nullptr))
            return;
        der_.resize(size);
        ::CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der_.data(), &size, nullptr,
                               nullptr);
        HCERTSTORE store = openRoot();
        trusted_ = store && ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der_.data(), size,
                                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (store)
            ::CertCloseStore(store, 0);
    }
    ~TrustedAuthority() {
        if (!trusted_)
            return;
        HCERTSTORE store = openRoot();
        PCCERT_CONTEXT mine =
            ::CertCreateCertificateContext(X509_ASN_ENCODING, der_.data(), DWORD(der_.size()));
        if (store && mine) {
            if (PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                    CERT_FIND_EXISTING, mine, nullptr))
                ::CertDeleteCertificateFromStore(found); // frees `found` too
            ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
        if (mine)
            ::CertFreeCertificateContext(mine);
        if (store)
            ::CertCloseStore(store, 0);
    }
    bool trusted() const { return trusted_; }

  private:
    static HCERTSTORE openRoot() {
        return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }
    std::vector<BYTE> der_;
    bool trusted_ = false;
};

// A socket that takes connections and never answers, so the TLS handshake waits.
class SilentServer {
  public:
    SilentServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(socket_, 4);
        int len = sizeof addr;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() {
        ::closesocket(socket_);
        ::WSACleanup();
    }
    int port() const { return port_; }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    int port_ = 0;
};

struct Environment {
    std::filesystem::path dir;
    std::unique_ptr<TrustedAuthority> authority;
    std::unique_ptr<Server> local, elsewhere, stranger;
};
Environment* env = nullptr;

class WinInetUpdateCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* dir = std::getenv("TAVRIN_HTTPS_TEST_DIR");
        if (!dir)
            return;
        env = new Environment;
        env->dir = dir;
        env->authority = std::make_unique<TrustedAuthority>(env->dir / "ca.pem");
        env->local = std::make_unique<Server>(env->dir / "local");
        env->elsewhere = std::make_unique<Server>(env->dir / "elsewhere");
        env->stranger = std::make_unique<Server>(env->dir / "stranger");
    }
    static void TearDownTestSuite() {
        delete env;
        env = nullptr;
    }
    void SetUp() override {
        if (!env)
            GTEST_SKIP() << "no test servers: run through scripts/win32-net-test.sh";
        ASSERT_TRUE(env->authority->trusted()) << "the test authority could not be added to the Root store";
        for (Server* s : {env->local.get(), env->elsewhere.get(), env->stranger.get()}) {
            ASSERT_GT(s->port, 0) << s->folder.string();
            s->clearLog();
        }
        std::filesystem::remove(env->local->folder / "docroot" / "redirect");
        env->local->serve(kVersionPath, kVersion5);
        place_ = std::string(SettingsKey::kUserRegistryRoot) + "Software\\TavrinCaptureTest\\" +
                 std::to_string(::GetCurrentProcessId()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    }
    void TearDown() override {
        if (!place_.empty())
            ::RegDeleteTreeA(HKEY_CURRENT_USER,
                             place_.substr(std::strlen(SettingsKey::kUserRegistryRoot)).c_str());
    }

    static UpdateServer to(const Server& server) {
        UpdateServer s;
        s.host = "localhost";
        s.port = server.port;
        s.timeoutSeconds = 10;
        s.systemProxy = false;
        return s;
    }

    // The body of one GET of `path` as the update check reads it (at most `max`
    // bytes a call); `sent` tells whether the server answered.
    static std::string get(const UpdateServer& server, const std::string& path, bool& sent, long& lastRead,
                           std::size_t max = 1000) {
        Win32HttpGet http(server);
        std::string body;
        sent = http.open("updateCheck") && http.connect() && http.openRequest(path) && http.sendRequest();
        lastRead = 0;
        if (sent) {
            std::vector<char> buffer(max);
            while ((lastRead = http.readBody(buffer.data(), max)) > 0)
                body.append(buffer.data(), std::size_t(lastRead));
        }
        http.close();
        return body;
    }

    uint32_t value(const std::string& name) const {
        bool created = false;
        auto key = SettingsKey::open(place_, created);
        return key ? key->readDword(name) : 0xDEADBEEF;
    }
    // One program run's check, with the values in the registry.
    void run(const UpdateServer& server, uint32_t now = kNow) {
        Win32HttpGet http(server);
        UpdateCheck check(place_, http, prompt, [now] { return now; });
        check.scheduleUpdateCheck();
        check.waitForCheck();
    }

    std::string place_;
    tt::FakeUpdatePrompt prompt;
    tt::DiagnosticCapture diagnostics;
};

} // namespace

TEST_F(WinInetUpdateCheck, BodiesArriveByteForByteUpToTheLimit) {
    // Every byte value, NULs and line ends included, in a body longer than one read.
    std::string big(300024, '\0');
    std::mt19937 random(7);
    for (char& c : big)
        c = static_cast<char>(random());
    env->local->serve("tavrin/big.bin", big);
    env->local->serve("tavrin/empty.txt", "");

    struct Case {
        const char* path;
        std::size_t limit;
        std::string expected;
    } cases[] = {
        {"/tavrin/big.bin", 400000, big},
        {"/tavrin/big.bin", 2047, big.substr(0, 2047)}, // the rest is not read
        {"/tavrin/big.bin", 4096, big.substr(0, 4096)}, // exactly one of WinINet's reads
        {"/tavrin/empty.txt", 2047, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " limit " + std::to_string(c.limit));
        UpdateServer server = to(*env->local);
        server.maxBodyBytes = c.limit;
        bool sent = false;
        long lastRead = 0;
        const std::string body = get(server, c.path, sent, lastRead, 777);
        ASSERT_TRUE(sent);
        EXPECT_EQ(lastRead, 0) << "the end of the body, not a failure";
        EXPECT_EQ(body.size(), c.expected.size());
        EXPECT_TRUE(body == c.expected) << "the bytes differ";
    }
    EXPECT_EQ(env->local->requestLog(), "updateCheck /tavrin/big.bin\nupdateCheck /tavrin/big.bin\n"
                                        "updateCheck /tavrin/big.bin\nupdateCheck /tavrin/empty.txt\n");
    EXPECT_EQ(diagnostics.count("update check:"), 0) << diagnostics.text();
}

TEST_F(WinInetUpdateCheck, AMissingFileIsAnAnswerWhoseBodyIsRead) {
    bool sent = false;
    long lastRead = 0;
    const std::string body = get(to(*env->local), "/tavrin/missing.txt", sent, lastRead);
    EXPECT_TRUE(sent) << "a 404 is still an answer: its body is parsed, as the check does everywhere";
    EXPECT_EQ(lastRead, 0);
    EXPECT_NE(body.find("404"), std::string::npos) << body;
    EXPECT_EQ(env->local->requestLog(), "updateCheck /tavrin/missing.txt\n");
}

TEST_F(WinInetUpdateCheck, ConnectionsThatCannotBeTrustedAreRefusedBeforeAnyRequest) {
    UpdateServer wrongName = to(*env->elsewhere); // a certificate for elsewhere.test
    UpdateServer untrusted = to(*env->stranger);  // for localhost, from an unknown authority
    UpdateServer wrongPort = to(*env->local);
    wrongPort.port = SilentServer().port(); // closed again at once: nobody listens there
    struct Case {
        const char* what;
        UpdateServer server;
        const Server* logOf;
        const char* line;
    } cases[] = {
        {"another name", wrongName, env->elsewhere.get(), kBadCertificate},
        {"an unknown authority", untrusted, env->stranger.get(), kBadCertificate},
        {"no server", wrongPort, nullptr, "update check: Couldn't connect to server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tt::DiagnosticCapture lines;
        bool sent = true;
        long lastRead = 0;
        get(c.server, "/" + kVersionPath, sent, lastRead);
        EXPECT_FALSE(sent);
        EXPECT_EQ(lines.count(c.line), 1) << lines.text();
        if (c.logOf) {
            EXPECT_EQ(c.logOf->requestLog(), "") << "no request went out over the refused connection";
        }
    }
}

TEST_F(WinInetUpdateCheck, RedirectsAreFollowedOnlyToHttps) {
    const std::string moved = "localhost:" + std::to_string(env->local->port) + "/moved/version.txt";
    env->local->serve("moved/version.txt", "tavrin 1\nver 6\nurl https://example.test/6\neof\n");

    env->local->serve("redirect", "http://" + moved);
    run(to(*env->local));
    EXPECT_EQ(diagnostics.count("found"), 0);
    EXPECT_EQ(diagnostics.count("update check: Unsupported protocol"), 1) << diagnostics.text();
    EXPECT_EQ(env->local->requestLog(), "updateCheck /tavrin/tavrin_capture_version.txt\n")
        << "the plain-http address was never asked for";

    env->local->serve("redirect", "https://" + moved);
    run(to(*env->local), kNow + 48);
    EXPECT_EQ(diagnostics.count("found v6"), 1) << diagnostics.text();
    EXPECT_EQ(value("LastVersionSeen"), 6u);

    env->local->serve("redirect", "/tavrin/again"); // on itself, for ever
    run(to(*env->local), kNow + 96);
    EXPECT_EQ(diagnostics.count("update check: Number of redirects hit maximum amount"), 1)
        << diagnostics.text();
}

TEST_F(WinInetUpdateCheck, FirstStartAsksOnceForANewVersionAndNotAgain) {
    run(to(*env->local));
    EXPECT_EQ(value("DisableUpdateCheck"), 0u);
    EXPECT_EQ(value("LastChecked"), kNow);
    EXPECT_EQ(value("LastVersionSeen"), 5u);
    EXPECT_EQ(prompt.urls(), std::vector<std::string>{"https://example.test/download"});
    EXPECT_EQ(env->local->requestLog(), "updateCheck /tavrin/tavrin_capture_version.txt\n");
    EXPECT_EQ(diagnostics.text(), "software update check\nconnect\nopenrequest\nsendrequest\nfound v5\n");

    run(to(*env->local), kNow + 47);
    EXPECT_EQ(diagnostics.count("software update check"), 1) << "47 hours are too soon";
    run(to(*env->local), kNow + 48);
    EXPECT_EQ(diagnostics.count("found v5"), 2);
    EXPECT_EQ(prompt.urls().size(), 1u) << "a version is offered once";
    EXPECT_EQ(value("LastChecked"), kNow + 48);
}

TEST_F(WinInetUpdateCheck, AServerThatNeverAnswersIsGivenUpAfterTheTimeLimit) {
    SilentServer silent;
    UpdateServer server = to(*env->local);
    server.port = silent.port();
    server.timeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    run(server);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(diagnostics.count("update check: Timeout was reached"), 1) << diagnostics.text();
    EXPECT_EQ(value("LastChecked"), kNow) << "a failed check still counts";
}

TEST_F(WinInetUpdateCheck, EndingTheProgramCancelsACheckThatWaits) {
    SilentServer silent;
    UpdateServer server = to(*env->local);
    server.port = silent.port();
    server.timeoutSeconds = 60;
    const auto start = std::chrono::steady_clock::now();
    {
        Win32HttpGet http(server);
        UpdateCheck check(place_, http, prompt, [] { return kNow; });
        check.scheduleUpdateCheck();
        // By now the check waits for an answer that never comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    } // the check is cancelled and joined here
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(diagnostics.count("update check: Operation was aborted by an application callback"), 1)
        << diagnostics.text();
}
