// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FrameQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

using namespace tavrin::device;
using namespace std::chrono_literals;

TEST(FramePool, HoldsTwelveFramesWithBuffersAndReturnsThemInReleaseOrder) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    EXPECT_EQ(pool.queue().count(), 12);

    std::vector<FrameRef> taken;
    for (int i = 0; i < 12; ++i) {
        taken.push_back(pool.take(0ms));
        ASSERT_TRUE(taken.back());
        ASSERT_NE(taken.back()->data, nullptr);
        EXPECT_EQ(taken.back()->layout.layoutId, 0);
        EXPECT_EQ(taken.back()->refCount, 1) << "the taker is the first holder";
    }
    EXPECT_FALSE(pool.take(10ms)) << "only twelve frames exist";

    // Release in a scrambled order; they must come back in exactly that order.
    const int order[12] = {5, 0, 11, 3, 7, 1, 9, 2, 10, 4, 8, 6};
    std::vector<CaptureFrame*> released;
    for (int i : order) {
        released.push_back(taken[i].get());
        taken[i].reset();
        EXPECT_FALSE(taken[i]);
    }
    for (CaptureFrame* f : released)
        EXPECT_EQ(pool.queue().pop(0ms), f);
}

TEST(FramePool, FrameGoesBackOnlyWhenTheLastHolderReleases) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    FrameRef first = pool.take(0ms);
    FrameRef second = first.share();
    FrameRef third = second.share();
    EXPECT_EQ(second.get(), first.get());
    EXPECT_EQ(first->refCount, 3);
    EXPECT_FALSE(FrameRef().share()) << "sharing nothing holds nothing";

    // A move hands the hold over: the moved-from reference lets go of nothing.
    FrameRef moved = std::move(third);
    EXPECT_FALSE(third);
    third.reset();
    FrameRef& same = moved;
    moved = std::move(same);
    EXPECT_EQ(moved->refCount, 3) << "a move onto itself keeps the hold";
    first.reset();
    second = std::move(moved); // drops second's own hold
    EXPECT_EQ(pool.queue().count(), 11);
    EXPECT_EQ(second->refCount, 1);
    second.reset();
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST(FramePool, ConcurrentReleasesReturnEachFrameExactlyOnce) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    constexpr int kRounds = 2000;
    for (int round = 0; round < kRounds; ++round) {
        FrameRef refA = pool.take(0ms);
        ASSERT_TRUE(refA);
        CaptureFrame* f = refA.get();
        FrameRef refB = refA.share();
        std::atomic<bool> go{false};
        std::thread a([&] {
            while (!go.load()) {
            }
            refA.reset();
        });
        std::thread b([&] {
            while (!go.load()) {
            }
            refB.reset();
        });
        go.store(true);
        a.join();
        b.join();
        ASSERT_EQ(pool.queue().count(), 12) << "round " << round;
        ASSERT_EQ(f->refCount, 0);
    }
}

TEST(FrameQueue, DrainReleasesQueuedFramesSkipsEmptySlotsAndNeverWaits) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    FrameQueue recording;

    auto start = std::chrono::steady_clock::now();
    drainFrameQueue(recording);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);

    FrameRef a = pool.take(0ms);
    FrameRef b = pool.take(0ms);
    FrameRef elsewhere = b.share(); // b is also held by someone else
    recording.push(std::move(a));
    recording.push(FrameRef{});
    recording.push(std::move(b));
    EXPECT_EQ(pool.queue().count(), 10) << "the queue holds its frames";
    drainFrameQueue(recording);
    EXPECT_EQ(recording.count(), 0);
    EXPECT_EQ(pool.queue().count(), 11) << "a returns, b is still held";
    EXPECT_EQ(elsewhere->refCount, 1);
}

TEST(FrameQueue, PopTimesOutAfterItsWait) {
    FrameQueue q;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(q.pop(100ms), nullptr);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 95ms);
    EXPECT_LT(waited, 1000ms);
}

TEST(FrameQueue, HoldsThirteenEntriesWhereverTheRingStarts) {
    // Twelve frames and the recording queue's end marker: all thirteen slots in use,
    // with the ring's start moved to every position in turn.
    std::array<CaptureFrame, 12> frames;
    for (int start = 0; start < FrameQueue::kSlots; ++start) {
        FrameQueue q;
        for (int i = 0; i < start; ++i) {
            q.push(&frames[0]);
            ASSERT_EQ(q.pop(0ms), &frames[0]);
        }
        for (CaptureFrame& f : frames)
            q.push(&f);
        q.push(nullptr);
        EXPECT_EQ(q.count(), 13) << "start " << start;
        for (CaptureFrame& f : frames)
            ASSERT_EQ(q.pop(0ms), &f) << "start " << start;
        CaptureFrame* last = &frames[0];
        ASSERT_TRUE(q.popFor(last, 0ms)) << "the 13th entry is there, start " << start;
        EXPECT_EQ(last, nullptr);
        EXPECT_FALSE(q.tryPop(last));
    }
}

TEST(FrameQueue, AWakeEndsOneWaitWithoutAFrameAndCanBeTakenBack) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    FrameQueue& q = pool.queue();
    q.wake();
    q.wake(); // a second wake while one is pending is the same wake
    EXPECT_EQ(q.pop(0ms), nullptr) << "the wake comes before any frame";
    EXPECT_NE(q.pop(0ms), nullptr);
    q.wake();
    q.clearWake();
    for (int i = 1; i < 12; ++i)
        EXPECT_NE(q.pop(0ms), nullptr) << i;
    EXPECT_EQ(q.count(), 0);
    EXPECT_EQ(q.pop(0ms), nullptr);

    // A waiting pop is woken at once.
    std::thread waiter([&] { EXPECT_EQ(q.pop(60s), nullptr); });
    q.wake();
    waiter.join();
}
