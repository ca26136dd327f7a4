// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Diagnostics.h"

#include "base/Os.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace tavrin::base;
using tavrin::testing::DiagnosticCapture;

namespace {

using L = LogLevel;
using S = LogSubsystem;

TEST(LogFilterTest, ParsesLevelsPerSubsystem) {
    struct Probe {
        L level;
        S subsystem;
        bool passes;
    };
    struct Case {
        const char* text;
        bool valid;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {"", true, {{L::Debug, S::Device, true}, {L::Debug, S::Update, true}}},
        {"warning",
         true,
         {{L::Info, S::Device, false}, {L::Warning, S::Device, true}, {L::Error, S::App, true}}},
        {"device:debug", true, {{L::Debug, S::Device, true}, {L::Debug, S::Record, true}}},
        // The subsystem's own level wins wherever it stands.
        {"device:debug,warning",
         true,
         {{L::Debug, S::Device, true}, {L::Info, S::Record, false}, {L::Warning, S::Record, true}}},
        {"error,record:info,screenshot:off",
         true,
         {{L::Warning, S::App, false}, {L::Info, S::Record, true}, {L::Error, S::Screenshot, false}}},
        {"off", true, {{L::Error, S::App, false}, {L::Error, S::Display, false}}},
        {"loud", false, {}},
        {"devices:info", false, {}},
        {"device:", false, {}},
        {"warning,", true, {{L::Info, S::App, false}, {L::Warning, S::App, true}}},
        {"Warning", false, {}},
    };
    for (const Case& c : cases) {
        const auto filter = LogFilter::parse(c.text);
        ASSERT_EQ(filter.has_value(), c.valid) << c.text;
        for (const Probe& p : c.probes)
            EXPECT_EQ(filter->passes(p.level, p.subsystem), p.passes)
                << c.text << ": " << logLevelName(p.level) << " " << logSubsystemName(p.subsystem);
    }
}

TEST(LogTest, LinesKeepTheirTextAndCarryLevelAndSubsystem) {
    DiagnosticCapture all;
    std::vector<std::string> deviceWarnings;
    LogFilter filter = *LogFilter::parse("off,device:warning");
    const int id =
        addDiagnosticMirror([&](const LogLine& line) { deviceWarnings.emplace_back(line.text); }, filter);

    deviceLog.info("fwVer=%d\n", 258);
    deviceLog.debug("%d:", 7); // a short read: no line feed of its own
    deviceLog.warning("read_thread starved\n");
    recordLog.debug("%s\n", "CCapturePin::stop");
    updateLog.error("update check: %s\n", "timed out");
    deviceLog.write(L::Info, "OK=60 SKIPS=0 ERRORS=0 (00000000)\n");
    removeDiagnosticMirror(id);
    deviceLog.error("after removal\n");

    const std::vector<DiagnosticCapture::Line> expected = {
        {L::Info, S::Device, "fwVer=258\n"},
        {L::Debug, S::Device, "7:"},
        {L::Warning, S::Device, "read_thread starved\n"},
        {L::Debug, S::Record, "CCapturePin::stop\n"},
        {L::Error, S::Update, "update check: timed out\n"},
        {L::Info, S::Device, "OK=60 SKIPS=0 ERRORS=0 (00000000)\n"},
        {L::Error, S::Device, "after removal\n"},
    };
    const auto lines = all.lines();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i].text);
        EXPECT_EQ(lines[i].level, expected[i].level) << lines[i].text;
        EXPECT_EQ(lines[i].subsystem, expected[i].subsystem) << lines[i].text;
    }
    EXPECT_EQ(deviceWarnings, std::vector<std::string>{"read_thread starved\n"});
}

TEST(LogTest, StandardOutputShowsWhatItsFilterPassesAndWritesItOutUnasked) {
    // A file others may read while it is open (mkstemp's is not, on Windows).
    const tavrin::testing::TempDir dir;
    const std::string path = dir.folder() + "log";
    const int fd = os::createNewFile(path);
    ASSERT_GE(fd, 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    const auto written = [&path] {
        std::ifstream in(os::toPath(path));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    setStdoutLogFilter(*LogFilter::parse("warning,device:debug"));

    recordLog.info("recording: 60 slots\n");
    deviceLog.debug("0:");
    deviceLog.debug("%d:", 1000);
    // A file is no terminal: the lines wait in the buffer, but not for long.
    tavrin::testing::eventually([&] { return !written().empty(); }, std::chrono::seconds(10));
    const std::string unasked = written();
    recordLog.warning("%s starved\n", "CCapturePin::getNextFrame");
    const std::string afterWarning = written();
    appLog.debug("videoCodecSettingsSize=0\n");
    flushDiagnostics();
    const std::string atEnd = written();

    setStdoutLogFilter(LogFilter());
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    os::closeFile(fd);
    EXPECT_EQ(unasked, "0:1000:");
    EXPECT_EQ(afterWarning, "0:1000:CCapturePin::getNextFrame starved\n")
        << "a warning is written out at once";
    EXPECT_EQ(atEnd, afterWarning);
}

} // namespace
