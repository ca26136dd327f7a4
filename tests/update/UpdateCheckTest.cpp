// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/UpdateCheck.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeUpdatePorts.h"
#include "fakes/TempDir.h"
#include "update/SettingsKey.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tavrin;
namespace tt = tavrin::testing;
using update::SettingsKey;
using update::UpdateCheck;

namespace {

constexpr uint32_t kNow = 18000000;
const std::string kVersion5 = "tavrin 1\nver 5\nurl https://example.test/download\neof\n";

class UpdateCheckTest : public ::testing::Test {
  protected:
    std::string folder() const { return dir.folder() + "Tavrin Capture/"; }

    void setValue(const std::string& name, uint32_t value) {
        bool created = false;
        auto key = SettingsKey::open(folder(), created);
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->writeDword(name, value));
    }
    uint32_t value(const std::string& name) {
        bool created = false;
        auto key = SettingsKey::open(folder(), created);
        return key ? key->readDword(name) : 0xDEADBEEF;
    }

    // One program run: schedules the check and waits for it.
    void run(uint32_t now = kNow) {
        UpdateCheck check(folder(), http, prompt, [now] { return now; });
        check.scheduleUpdateCheck();
        check.waitForCheck();
        EXPECT_FALSE(check.settingsKeyOpen()) << "the key is closed when the check is over";
    }

    tt::TempDir dir;
    tt::FakeHttpGet http;
    tt::FakeUpdatePrompt prompt;
    tt::DiagnosticCapture diagnostics;
};

} // namespace

TEST_F(UpdateCheckTest, FirstStartCreatesTheKeyAndChecks) {
    http.body = kVersion5;
    run();
    bool created = true;
    auto key = SettingsKey::open(folder(), created);
    ASSERT_TRUE(key);
    EXPECT_FALSE(created);
    EXPECT_EQ(key->readDword("DisableUpdateCheck"), 0u);
    EXPECT_EQ(key->readDword("LastChecked"), kNow);
    EXPECT_EQ(http.agent, "updateCheck");
    EXPECT_EQ(http.path, "/tavrin/tavrin_capture_version.txt");
    EXPECT_EQ(diagnostics.text(), "software update check\nconnect\nopenrequest\nsendrequest\nfound v5\n");
}

TEST_F(UpdateCheckTest, DisabledMeansNoNetworkAndLastCheckedUntouched) {
    setValue("DisableUpdateCheck", 1);
    setValue("LastChecked", 5);
    run();
    EXPECT_TRUE(http.steps().empty());
    EXPECT_EQ(value("LastChecked"), 5u);
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(UpdateCheckTest, ChecksOnlyAfterFortyEightStampHours) {
    setValue("LastChecked", kNow - 47);
    run();
    EXPECT_TRUE(http.steps().empty());
    EXPECT_EQ(value("LastChecked"), kNow - 47);

    setValue("LastChecked", kNow - 48);
    run();
    EXPECT_FALSE(http.steps().empty());
    EXPECT_EQ(value("LastChecked"), kNow);
}

TEST_F(UpdateCheckTest, AStampFromTheFutureAlsoLetsTheCheckRun) {
    setValue("LastChecked", kNow + 5);
    run();
    EXPECT_FALSE(http.steps().empty());
    EXPECT_EQ(value("LastChecked"), kNow);
}

TEST_F(UpdateCheckTest, ANewerVersionIsOfferedOnce) {
    http.body = kVersion5;
    run(kNow);
    EXPECT_EQ(prompt.urls(), std::vector<std::string>{"https://example.test/download"});
    EXPECT_EQ(value("LastVersionSeen"), 5u);

    run(kNow + 48); // the next check, same file
    EXPECT_EQ(prompt.urls().size(), 1u);
    EXPECT_EQ(diagnostics.count("found v5\n"), 2);

    http.body = "tavrin 1\nver 0x10\nurl http://example.test/16\neof\n";
    run(kNow + 96);
    EXPECT_EQ(prompt.urls().back(), "http://example.test/16");
    EXPECT_EQ(value("LastVersionSeen"), 16u);
}

TEST_F(UpdateCheckTest, AnOlderOrEqualVersionRaisesLastSeenWithoutAPrompt) {
    setValue("LastVersionSeen", 2);
    http.body = "tavrin 1\nver 3\nurl https://example.test/\neof\n";
    run();
    EXPECT_TRUE(prompt.urls().empty());
    EXPECT_EQ(value("LastVersionSeen"), 3u);
    EXPECT_EQ(diagnostics.count("found v3\n"), 1);
}

TEST_F(UpdateCheckTest, AnIncompleteFileChangesNothing) {
    setValue("LastVersionSeen", 1);
    http.body = "tavrin 1\nver 5\nurl https://example.test/\n";
    run();
    EXPECT_TRUE(prompt.urls().empty());
    EXPECT_EQ(value("LastVersionSeen"), 1u);
    EXPECT_EQ(diagnostics.count("found"), 0);
}

TEST_F(UpdateCheckTest, AnAddressThatIsNotAWebAddressIsNeverOffered) {
    http.body = "tavrin 1\nver 9\nurl file:///usr/bin/xterm\neof\n";
    run();
    EXPECT_TRUE(prompt.urls().empty());
    EXPECT_EQ(value("LastVersionSeen"), 9u) << "the version still counts as announced";
}

TEST_F(UpdateCheckTest, OnlyTheFirst2047BytesOfTheBodyAreRead) {
    http.body = kVersion5 + std::string(5000, '#');
    run();
    EXPECT_EQ(prompt.urls().size(), 1u);
    EXPECT_LE(http.largestAsk, 2047u);

    http.body = std::string(2047 - 10, '\n') + kVersion5; // the eof line lies past the limit
    run(kNow + 48);
    EXPECT_EQ(diagnostics.count("found"), 1);
}

TEST_F(UpdateCheckTest, EachFailingStepEndsTheCheckQuietlyAndClosesWhatWasOpened) {
    struct Case {
        const char* failAt;
        const char* lines;
    };
    const Case cases[] = {
        {"open", "software update check\n"},
        {"connect", "software update check\nconnect\n"},
        {"openRequest", "software update check\nconnect\nopenrequest\n"},
        {"sendRequest", "software update check\nconnect\nopenrequest\nsendrequest\n"},
        {"read", "software update check\nconnect\nopenrequest\nsendrequest\n"},
    };
    uint32_t now = kNow;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        tt::FakeHttpGet failing;
        failing.body = kVersion5 + std::string(400, ' ');
        failing.failAt = c.failAt;
        diagnostics.clear();
        now += 48;
        UpdateCheck check(folder(), failing, prompt, [now] { return now; });
        check.scheduleUpdateCheck();
        check.waitForCheck();
        EXPECT_EQ(diagnostics.text(), c.lines);
        EXPECT_EQ(failing.steps().back(), "close");
        EXPECT_EQ(value("LastChecked"), now) << "a failed check still counts as done";
        EXPECT_FALSE(check.settingsKeyOpen());
    }
    EXPECT_TRUE(prompt.urls().empty());
}

TEST_F(UpdateCheckTest, EndingTheProgramCancelsACheckInProgress) {
    http.blockInSend = true;
    const auto start = std::chrono::steady_clock::now();
    {
        UpdateCheck check(folder(), http, prompt, [] { return kNow; });
        check.scheduleUpdateCheck();
        EXPECT_TRUE(tt::eventually([&] { return http.steps().size() >= 4; }));
    } // the destructor cancels and joins
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(http.steps().back(), "close");
}

TEST_F(UpdateCheckTest, NoKeyMeansNoCheck) {
    dir.write("blocked", "x");
    UpdateCheck check(dir.folder() + "blocked/Tavrin Capture/", http, prompt, [] { return kNow; });
    check.scheduleUpdateCheck();
    check.waitForCheck();
    EXPECT_TRUE(http.steps().empty());
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(UpdateCheckTest, ParsingNeedsAValidFileAndRaisesLastSeenOnlyUpward) {
    UpdateCheck check(folder(), http, prompt, [] { return kNow; });
    ASSERT_TRUE(check.openSettingsKey());
    auto parse = [&](const std::string& text) {
        check.receiveBuffer().fill(0);
        text.copy(check.receiveBuffer().data(), text.size());
        check.parseVersionFile(int(text.size()));
    };
    parse("tavrin 1\nver 7\nurl https://a.test/\neof\n");
    parse("tavrin 1\nver 6\nurl https://b.test/\neof\n");
    parse("tavrin 1\nver -2\nurl https://c.test/\neof\n");
    EXPECT_EQ(prompt.urls(), std::vector<std::string>{"https://a.test/"});
    EXPECT_EQ(value("LastVersionSeen"), 7u);
}
