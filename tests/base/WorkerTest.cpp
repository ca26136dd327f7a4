// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Worker.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/ThreadNames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::threadNames;
using ::testing::Contains;

TEST(Worker, AWakeEndsOnePauseAndAStopEndsTheBodyLongBeforeItsPauseWould) {
    base::Worker worker;
    std::atomic<int> passes{0};
    ASSERT_TRUE(worker.start("tavrin-test", [&](const base::WorkerControl& control) {
        while (control.pause(60s))
            ++passes;
    }));
    EXPECT_FALSE(worker.start("tavrin-test", [](const base::WorkerControl&) {})) << "one thread at a time";
    worker.wake();
    ASSERT_TRUE(eventually([&] { return passes.load() == 1; }));
    worker.wake();
    ASSERT_TRUE(eventually([&] { return passes.load() == 2; }));
    EXPECT_FALSE(worker.ended()) << "a wake does not stop";

    // The pause is a minute: a stop that had to wait for it would miss the limit.
    EXPECT_TRUE(worker.stop(5s));
    EXPECT_TRUE(worker.ended());
    EXPECT_FALSE(worker.started());
    EXPECT_EQ(passes.load(), 2);

    // Joined, it can run again, and a stop now is harmless.
    std::atomic<bool> ran{false};
    ASSERT_TRUE(worker.start("tavrin-again", [&](const base::WorkerControl&) { ran = true; }));
    EXPECT_TRUE(worker.join(5s));
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(worker.stop(0ms));
}

TEST(Worker, AThreadOutlastingItsJoinIsNamedLeftRunningAndItsOwnerIsNotLetGoUnderIt) {
    DiagnosticCapture diag;
    std::atomic<bool> release{false};
    std::atomic<bool> bodyDone{false};
    auto worker = std::make_unique<base::Worker>();
    // A body that does not look at the stop request (a device read running to its time-out).
    ASSERT_TRUE(worker->start("tavrin-stuck", [&](const base::WorkerControl&) {
        eventually([&] { return release.load(); }, 20s);
        bodyDone = true;
    }));
    EXPECT_FALSE(worker->stop(50ms));
    EXPECT_EQ(diag.count("thread tavrin-stuck did not end within 50 ms; left running\n"), 1) << diag.text();
    EXPECT_TRUE(worker->started());
    EXPECT_FALSE(worker->ended());

    // Destroying the worker waits for the body, which may still use its owner.
    auto destroyed = std::async(std::launch::async, [&] { worker.reset(); });
    EXPECT_EQ(destroyed.wait_for(300ms), std::future_status::timeout);
    EXPECT_FALSE(bodyDone.load());
    release = true;
    ASSERT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(bodyDone.load());
}

#ifdef __linux__
TEST(Worker, TheThreadCarriesItsNameShortenedTo15Characters) {
    std::promise<void> named;
    base::Worker worker;
    ASSERT_TRUE(worker.start("tavrin-a-long-thread-name", [&](const base::WorkerControl& control) {
        named.set_value();
        while (control.pause(60s)) {
        }
    }));
    named.get_future().wait();
    EXPECT_THAT(threadNames(), Contains("tavrin-a-long-t"));
    EXPECT_TRUE(worker.stop(5s));
    // A joined thread's entry under /proc can outlast the join for a moment.
    EXPECT_TRUE(tavrin::testing::eventually([] {
        const auto names = threadNames();
        return std::find(names.begin(), names.end(), "tavrin-a-long-t") == names.end();
    })) << "the thread is still listed after its stop";
}
#endif
