// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ConsoleToggle.h"

#include "app/CaptureApp.h"
#include "base/DiagnosticBuffer.h"
#include "fakes/FakeControlWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace tavrin;
using namespace tavrin::app;

namespace {

// A console that, like a real one, cannot be created twice.
class FakeConsole : public ConsoleView {
  public:
    bool createConsole() override {
        if (shown)
            return false;
        shown = true;
        ++created;
        return true;
    }
    void destroyConsole() override {
        shown = false;
        ++destroyed;
    }
    bool shown = false;
    int created = 0;
    int destroyed = 0;
};

struct ConsoleToggleTest : ::testing::Test {
    ConsoleToggleTest() { app.capture.currentDevice = &app.capture.nullDevice; }

    tavrin::testing::DiagnosticCapture diagnostics; // the statistics lines stay off the terminal
    tavrin::sim::SimulatedBoard board;
    tavrin::device::NoModifierKeys keys;
    CaptureApp app{board, keys}; // stops its statistics thread when it goes
    FakeConsole view;
    ConsoleToggle console{view, app};
};

TEST_F(ConsoleToggleTest, OpensClosesAndReopensWithOneStatisticsThread) {
    app.capture.skipCount = 7; // from before the first opening
    console.toggle();
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(app.consoleOpen);
    ASSERT_TRUE(app.stats.worker.started());
    EXPECT_EQ(app.capture.skipCount, 0); // the statistics start from zero
    app.capture.skipCount = 3;
    app.capture.errorCount = 4;

    console.toggle();
    EXPECT_FALSE(view.shown);
    EXPECT_FALSE(app.consoleOpen);
    EXPECT_EQ(view.destroyed, 1);

    console.toggle();
    EXPECT_TRUE(app.consoleOpen);
    EXPECT_EQ(view.created, 2);
    // The same thread goes on (a new one would start from zero), and the counts continue.
    EXPECT_TRUE(app.stats.worker.started());
    EXPECT_EQ(app.capture.skipCount, 3);
    EXPECT_EQ(app.capture.errorCount, 4);
}

TEST_F(ConsoleToggleTest, ClosingTheWindowItselfIsLikeTheToggle) {
    console.consoleClosed(); // nothing open: nothing to do
    EXPECT_EQ(view.destroyed, 0);
    console.toggle();
    console.consoleClosed();
    EXPECT_FALSE(app.consoleOpen);
    EXPECT_FALSE(view.shown);
    console.toggle(); // opens again rather than closing a console that is gone
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(app.consoleOpen);
}

TEST(DiagnosticBuffer, WakesOncePerBatchAndKeepsPartialLines) {
    base::DiagnosticBuffer buffer(500);
    EXPECT_FALSE(buffer.append(""));
    EXPECT_TRUE(buffer.append("OK=60 SKIPS=0 "));
    EXPECT_FALSE(buffer.append("ERRORS=0 "));
    EXPECT_FALSE(buffer.append("(00000000)\n"));
    EXPECT_EQ(buffer.take(), "OK=60 SKIPS=0 ERRORS=0 (00000000)\n");
    EXPECT_EQ(buffer.take(), "");
    EXPECT_TRUE(buffer.append("x"));
}

TEST(DiagnosticBuffer, KeepsOnlyTheNewestLinesWhenTheReaderFallsBehind) {
    base::DiagnosticBuffer buffer(3);
    for (int i = 0; i < 10; ++i)
        buffer.append("line " + std::to_string(i) + "\n");
    buffer.append("partial");
    EXPECT_EQ(buffer.take(), "line 7\nline 8\nline 9\npartial");
    // Several lines in one piece are counted one by one.
    buffer.append("a\nb\nc\nd\ne\n");
    EXPECT_EQ(buffer.take(), "c\nd\ne\n");
}

TEST(DiagnosticBuffer, ConcurrentWritersLoseNothingWithinTheLimit) {
    base::DiagnosticBuffer buffer(100000);
    std::atomic<int> wakes{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i)
                if (buffer.append(std::to_string(t) + "\n"))
                    ++wakes;
        });
    std::string seen;
    for (int i = 0; i < 50; ++i)
        seen += buffer.take();
    for (auto& w : writers)
        w.join();
    seen += buffer.take();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 4000);
    for (char c : {'0', '1', '2', '3'})
        EXPECT_EQ(std::count(seen.begin(), seen.end(), c), 1000);
    EXPECT_GE(wakes.load(), 1);
}

} // namespace
