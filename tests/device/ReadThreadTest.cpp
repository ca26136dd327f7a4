// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/ReadThread.h"

#include "device/CaptureSession.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tavrin;
using namespace tavrin::device;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeControlWindow;

namespace {

struct ReadThreadFixture : ::testing::Test {
    explicit ReadThreadFixture(bool releaseFrames = true, int fps = 0) : window(releaseFrames) {
        sim::SimulatedBoard::Options options;
        options.framesPerSecond = fps;
        board = std::make_unique<sim::SimulatedBoard>(options);
        session = std::make_unique<CaptureSession>(*board, keys);
        session->controlWindow.set(&window);
        session->currentDevice = &session->nullDevice;
    }
    ~ReadThreadFixture() override {
        stop();
        session->controlWindow.set(nullptr);
        window.releaseAll(); // while the pool is there
    }

    void openBoard() {
        std::lock_guard lk(session->appLock);
        session->currentDevice.load()->close();
        bool opened = session->boardDevice.open(nullptr);
        session->currentDevice =
            opened ? static_cast<UsbDevice*>(&session->boardDevice) : &session->nullDevice;
    }
    void start() { ASSERT_TRUE(usbThread_start(*session)); }
    void stop() {
        if (session->readThreadRunning()) {
            ASSERT_TRUE(usbThread_stop(*session, 2000ms));
        }
    }
    // Every frame is back in the pool or held by the window: none lost, none doubled.
    void expectPoolIntact() { EXPECT_EQ(session->framePool.queue().count(), FramePool::kFrameCount); }

    DiagnosticCapture diag;
    NoModifierKeys keys;
    FakeControlWindow window;
    std::unique_ptr<sim::SimulatedBoard> board;
    std::unique_ptr<CaptureSession> session;
};

struct HoldingReadThread : ReadThreadFixture {
    HoldingReadThread() : ReadThreadFixture(false) {}
};

} // namespace

TEST_F(ReadThreadFixture, WithoutABoardDeliversAboutTenWhiteErrorFramesASecond) {
    start();
    std::this_thread::sleep_for(1000ms);
    stop();
    const auto results = window.frameResults();
    EXPECT_GE(results.size(), 7u);
    EXPECT_LE(results.size(), 12u);
    for (int32_t r : results)
        EXPECT_EQ(r, FRAME_ERROR);
    for (bool white : window.frameWhite())
        EXPECT_TRUE(white);
    EXPECT_EQ(session->errorCount.load(), static_cast<int>(results.size()));
    EXPECT_EQ(session->okCount.load(), 0);
    expectPoolIntact();
}

TEST_F(ReadThreadFixture, DeliversBoardFramesAndCountsThem) {
    openBoard();
    start();
    ASSERT_TRUE(window.waitForFrames(50, 5000ms));
    stop();
    for (int32_t r : window.frameResults())
        EXPECT_EQ(r, FRAME_OK);
    EXPECT_EQ(session->okCount.load(), static_cast<int>(window.frameCount()));
    EXPECT_EQ(session->errorCount.load(), 0);
    expectPoolIntact();
}

TEST_F(ReadThreadFixture, SixShortReadsAreRetriedSilentlyThenAWholeFrameArrives) {
    openBoard();
    board->queueShortReads({100, 200, 300, 400, 500, 600});
    start();
    ASSERT_TRUE(window.waitForFrames(1, 5000ms));
    stop();
    EXPECT_EQ(window.frameResults().front(), FRAME_OK);
    EXPECT_EQ(session->skipCount.load(), 6);
    EXPECT_EQ(session->errorCount.load(), 0);
    expectPoolIntact();
}

TEST_F(ReadThreadFixture, SeventhShortReadBecomesOneErrorFrameAndAPause) {
    openBoard();
    board->queueShortReads({1, 2, 3, 4, 5, 6, 7});
    start();
    ASSERT_TRUE(window.waitForFrames(2, 5000ms));
    stop();
    auto results = window.frameResults();
    EXPECT_EQ(results[0], FRAME_ERROR);
    EXPECT_TRUE(window.frameWhite()[0]);
    EXPECT_EQ(results[1], FRAME_OK);
    EXPECT_EQ(session->skipCount.load(), 6);
    EXPECT_EQ(session->errorCount.load(), 1);
    // The error frame's 100 ms pause separates it from the next frame.
    EXPECT_EQ(diag.count("7:"), 1);
    expectPoolIntact();
}

TEST_F(ReadThreadFixture, WithoutAControlWindowFramesGoStraightBackToThePool) {
    session->controlWindow.set(nullptr);
    openBoard();
    start();
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(board->framesDelivered(), 12u) << "frames were recycled, not lost";
    stop();
    EXPECT_EQ(window.frameCount(), 0u);
    expectPoolIntact();
}

TEST_F(HoldingReadThread, AllFramesHeldStarvesEveryHalfSecondAndDropsNothing) {
    openBoard();
    start();
    ASSERT_TRUE(window.waitForFrames(12, 5000ms));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(window.frameCount(), 12u) << "nothing more can be read while all are held";
    const int starved = diag.count("read_thread starved\n");
    EXPECT_GE(starved, 1);
    EXPECT_LE(starved, 3);
    for (CaptureFrame* f : window.heldFrames())
        EXPECT_EQ(f->refCount, 1) << "no holder lost its frame";

    // Releasing one lets the thread go on with exactly that frame.
    CaptureFrame* first = window.heldFrames().front();
    window.release(first);
    ASSERT_TRUE(window.waitForFrames(13, 2000ms));
    EXPECT_EQ(window.heldFrames()[12], first);
    stop();
    window.releaseAll();
    expectPoolIntact();
}

TEST_F(HoldingReadThread, StopWithAnEmptyPoolEndsWithinAboutHalfASecond) {
    openBoard();
    start();
    ASSERT_TRUE(window.waitForFrames(12, 5000ms));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(usbThread_stop(*session, 1000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 700ms);
    window.releaseAll();
    expectPoolIntact();
}

TEST_F(ReadThreadFixture, BoardVanishingMidRunClosesItAndErrorFramesFollow) {
    openBoard();
    start();
    ASSERT_TRUE(window.waitForFrames(5, 5000ms));
    board->setPresent(false);
    const std::size_t before = window.frameCount();
    ASSERT_TRUE(window.waitForFrames(before + 4, 5000ms));
    stop();
    EXPECT_EQ(session->boardDevice.state(), DEVICE_CLOSED);
    const auto notices = window.deviceNotices();
    EXPECT_EQ(notices.back(), 0u);
    auto results = window.frameResults();
    EXPECT_EQ(results.back(), FRAME_ERROR);
    EXPECT_TRUE(window.frameWhite().back());
    expectPoolIntact();
}

TEST_F(HoldingReadThread, StopCutsThePoolWaitShortAndLeavesThePoolWhole) {
    openBoard();
    start();
    ASSERT_TRUE(window.waitForFrames(12, 5000ms));
    eventually([&] { return diag.count("read_thread starved\n") > 0; }, 2s);
    ASSERT_EQ(diag.count("read_thread starved\n"), 1);
    // The thread is in its next 500 ms wait, begun when the line was written: a
    // stop that let that wait run out would miss half its length.
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(usbThread_stop(*session, 250ms)) << "the stop waited for the pool's time-out";
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 250ms);
    EXPECT_TRUE(session->readThreadEnded());
    EXPECT_FALSE(session->readThreadRunning());
    EXPECT_EQ(diag.count("read_thread starved\n"), 1) << "the wait was woken, not timed out";
    window.releaseAll();
    // No wake is left behind in the pool: twelve frames and nothing else come out.
    for (int i = 0; i < FramePool::kFrameCount; ++i)
        EXPECT_NE(session->framePool.queue().pop(0ms), nullptr) << i;
    EXPECT_EQ(session->framePool.queue().pop(0ms), nullptr);
}
