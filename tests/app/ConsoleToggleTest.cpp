#include "app/ConsoleToggle.h"
#include "app/DiagnosticBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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

TEST(ConsoleToggle, ToggleOpensClosesAndReopens) {
    FakeConsole view;
    std::atomic<bool> consoleOpen{false};
    int statsStarts = 0;
    ConsoleToggle console(view, consoleOpen, [&] { ++statsStarts; });

    console.toggle();
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(consoleOpen);
    EXPECT_EQ(statsStarts, 1);

    console.toggle();
    EXPECT_FALSE(view.shown);
    EXPECT_FALSE(consoleOpen);
    EXPECT_EQ(view.destroyed, 1);
    EXPECT_EQ(statsStarts, 1); // closing never starts anything

    console.toggle();
    EXPECT_TRUE(consoleOpen);
    EXPECT_EQ(view.created, 2);
}

TEST(ConsoleToggle, ClosingTheWindowItselfIsLikeTheToggle) {
    FakeConsole view;
    std::atomic<bool> consoleOpen{false};
    ConsoleToggle console(view, consoleOpen, nullptr);
    console.consoleClosed(); // nothing open: nothing to do
    EXPECT_EQ(view.destroyed, 0);
    console.toggle();
    console.consoleClosed();
    EXPECT_FALSE(consoleOpen);
    EXPECT_FALSE(view.shown);
    console.toggle(); // opens again rather than closing a console that is gone
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(consoleOpen);
}

TEST(DiagnosticBuffer, WakesOncePerBatchAndKeepsPartialLines) {
    DiagnosticBuffer buffer(500);
    EXPECT_FALSE(buffer.append(""));
    EXPECT_TRUE(buffer.append("OK=60 SKIPS=0 "));
    EXPECT_FALSE(buffer.append("ERRORS=0 "));
    EXPECT_FALSE(buffer.append("(00000000)\n"));
    EXPECT_EQ(buffer.take(), "OK=60 SKIPS=0 ERRORS=0 (00000000)\n");
    EXPECT_EQ(buffer.take(), "");
    EXPECT_TRUE(buffer.append("x"));
}

TEST(DiagnosticBuffer, KeepsOnlyTheNewestLinesWhenTheReaderFallsBehind) {
    DiagnosticBuffer buffer(3);
    for (int i = 0; i < 10; ++i)
        buffer.append("line " + std::to_string(i) + "\n");
    buffer.append("partial");
    EXPECT_EQ(buffer.take(), "line 7\nline 8\nline 9\npartial");
    // Several lines in one piece are counted one by one.
    buffer.append("a\nb\nc\nd\ne\n");
    EXPECT_EQ(buffer.take(), "c\nd\ne\n");
}

TEST(DiagnosticBuffer, ConcurrentWritersLoseNothingWithinTheLimit) {
    DiagnosticBuffer buffer(100000);
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
