// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FrameQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace tavrin::device;
using namespace std::chrono_literals;

TEST(FramePool, HoldsTwelveFramesWithBuffersAndReturnsThemInReleaseOrder) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    EXPECT_EQ(pool.queue().count(), 12);

    std::vector<CaptureFrame*> taken;
    for (int i = 0; i < 12; ++i) {
        CaptureFrame* f = pool.queue().pop(0ms);
        ASSERT_NE(f, nullptr);
        ASSERT_NE(f->data, nullptr);
        EXPECT_EQ(f->layout.layoutId, 0);
        taken.push_back(f);
    }
    EXPECT_EQ(pool.queue().pop(10ms), nullptr) << "only twelve frames exist";

    // Release in a scrambled order; they must come back in exactly that order.
    const int order[12] = {5, 0, 11, 3, 7, 1, 9, 2, 10, 4, 8, 6};
    for (int i : order) {
        taken[i]->refCount = 1;
        releaseFrame(*taken[i]);
    }
    for (int i : order)
        EXPECT_EQ(pool.queue().pop(0ms), taken[i]);
}

TEST(FramePool, FrameGoesBackOnlyWhenTheLastHolderReleases) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    CaptureFrame* f = pool.queue().pop(0ms);
    f->refCount = 1;
    addFrameRef(*f);
    addFrameRef(*f);
    releaseFrame(*f);
    releaseFrame(*f);
    EXPECT_EQ(pool.queue().count(), 11);
    releaseFrame(*f);
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST(FramePool, ConcurrentReleasesReturnEachFrameExactlyOnce) {
    FramePool pool;
    ASSERT_TRUE(pool.setup());
    constexpr int kRounds = 2000;
    for (int round = 0; round < kRounds; ++round) {
        CaptureFrame* f = pool.queue().pop(0ms);
        ASSERT_NE(f, nullptr);
        f->refCount = 1;
        addFrameRef(*f);
        std::atomic<bool> go{false};
        std::thread a([&] {
            while (!go.load()) {
            }
            releaseFrame(*f);
        });
        std::thread b([&] {
            while (!go.load()) {
            }
            releaseFrame(*f);
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

    CaptureFrame* a = pool.queue().pop(0ms);
    CaptureFrame* b = pool.queue().pop(0ms);
    a->refCount = 1;
    b->refCount = 2; // also held by someone else
    recording.push(a);
    recording.push(nullptr);
    recording.push(b);
    drainFrameQueue(recording);
    EXPECT_EQ(recording.count(), 0);
    EXPECT_EQ(pool.queue().count(), 11) << "a returns, b is still held";
    EXPECT_EQ(b->refCount, 1);
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
