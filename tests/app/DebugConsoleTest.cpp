// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/DebugConsole.h"

#include "app/CaptureApp.h"
#include "app/FrameArrival.h"
#include "display/FrameConversion.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeControlWindow;

namespace {

struct DebugConsoleTest : ::testing::Test {
    DebugConsoleTest() {
        app.capture.controlWindow.set(&window);
        frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
        openBoard();
        diag.clear();
    }
    ~DebugConsoleTest() override {
        app::stopStatsThread(app);
        app.capture.controlWindow.set(nullptr);
    }

    void openBoard() {
        std::lock_guard lk(app.capture.appLock);
        ASSERT_TRUE(app.capture.boardDevice.open(nullptr));
        app.capture.currentDevice = &app.capture.boardDevice;
    }
    // Words alternate between `a` and `b` over the whole picture.
    void fillAlternating(uint16_t a, uint16_t b) {
        for (std::size_t i = 0; i < device::kPictureWords; ++i) {
            const uint16_t w = (i % 2) ? b : a;
            frame.data[2 * i] = static_cast<uint8_t>(w);
            frame.data[2 * i + 1] = static_cast<uint8_t>(w >> 8);
        }
    }
    std::string lineFor(uint16_t a, uint16_t b) {
        fillAlternating(a, b);
        app::analyseDataLines(app, frame);
        diag.clear();
        app::writeStatsLine(app);
        return diag.text();
    }

    DiagnosticCapture diag;
    FakeControlWindow window;
    device::NoModifierKeys keys;
    sim::SimulatedBoard board;
    app::CaptureApp app{board, keys};
    device::CaptureFrame frame;
};

} // namespace

TEST_F(DebugConsoleTest, AnErrorFrameReportsEveryLineStuckHigh) {
    app.capture.okCount = 0;
    app.capture.skipCount = 3;
    app.capture.errorCount = 12;
    EXPECT_EQ(lineFor(0xFFFF, 0xFFFF),
              "OK=0 SKIPS=3 ERRORS=12 STUCK=B1 B2 B3 B4 B5 G0 G1 G2 G3 G4 G5 R1 R2 R3 R4 R5 (FFFF0000)\n");
    EXPECT_EQ(app.stuckHigh.load(), 0xFFFFu);
    EXPECT_EQ(app.stuckLow.load(), 0u);
}

TEST_F(DebugConsoleTest, G0StuckLowIsShownOnlyInTheMasks) {
    app.capture.okCount = 60;
    EXPECT_EQ(lineFor(0x0000, 0xFFDF), "OK=60 SKIPS=0 ERRORS=0 (00000020)\n");
}

TEST_F(DebugConsoleTest, G0StuckHighIsNamed) {
    EXPECT_EQ(lineFor(0x0020, 0xFFFF), "OK=0 SKIPS=0 ERRORS=0 STUCK=G0 (00200000)\n");
}

TEST_F(DebugConsoleTest, LinesStuckEitherWayAreNamedInBitOrder) {
    // R5 always 1, B1 and G0 always 0, everything else toggles.
    EXPECT_EQ(lineFor(0x8000, 0xFFDE), "OK=0 SKIPS=0 ERRORS=0 STUCK=B1 R5 (80000021)\n");
}

TEST_F(DebugConsoleTest, AHealthyPictureHasNoStuckPart) {
    EXPECT_EQ(lineFor(0x0000, 0xFFFF), "OK=0 SKIPS=0 ERRORS=0 (00000000)\n");
}

TEST_F(DebugConsoleTest, OnlyThePictureWordsAreAnalysedNotTheHeadroom) {
    std::memset(frame.data.get(), 0xFF, device::kPictureBytes);
    std::memset(frame.data.get() + device::kPictureBytes, 0x00,
                device::kFrameBufferBytes - device::kPictureBytes);
    const auto masks = app::scanDataLines(frame.data.get());
    EXPECT_EQ(masks.stuckHigh, 0xFFFFu);
    EXPECT_EQ(masks.stuckLow, 0u);
    // A single differing word at the very end of the picture counts.
    frame.data[device::kPictureBytes - 1] = 0x7F;
    EXPECT_EQ(app::scanDataLines(frame.data.get()).stuckHigh, 0x7FFFu);
}

TEST_F(DebugConsoleTest, AClosedDeviceReportsNotConnected) {
    {
        std::lock_guard lk(app.capture.appLock);
        app.capture.boardDevice.close();
        app.capture.currentDevice = &app.capture.nullDevice;
    }
    app.capture.okCount = 5;
    app::writeStatsLine(app);
    EXPECT_EQ(diag.text(), "Not connected\n");
    EXPECT_EQ(app.capture.okCount.load(), 0);
}

TEST_F(DebugConsoleTest, OkCountsPerLineWhileSkipsAndErrorsAccumulate) {
    app.capture.okCount = 7;
    app.capture.skipCount = 2;
    app.capture.errorCount = 1;
    app::writeStatsLine(app);
    app.capture.okCount += 3;
    app.capture.errorCount += 1;
    app::writeStatsLine(app);
    EXPECT_EQ(diag.text(), "OK=7 SKIPS=2 ERRORS=1 (00000000)\nOK=3 SKIPS=2 ERRORS=2 (00000000)\n");
}

TEST_F(DebugConsoleTest, ConversionAnalysesTheLinesOnlyWhileTheConsoleIsOpen) {
    fillAlternating(0x0020, 0xFFFF);
    app.settings.displayMode = 6;
    app::convertFrame(app, frame);
    EXPECT_EQ(app.stuckHigh.load(), 0u);
    app.consoleOpen = true;
    app::convertFrame(app, frame);
    EXPECT_EQ(app.stuckHigh.load(), 0x0020u);
    // Closing the console keeps the last values.
    app.consoleOpen = false;
    fillAlternating(0, 0);
    app::convertFrame(app, frame);
    EXPECT_EQ(app.stuckHigh.load(), 0x0020u);
}

TEST_F(DebugConsoleTest, TheStatisticsThreadStartsOnceAndWritesALineEachPeriod) {
    std::atomic<int> sleeps{0};
    std::atomic<int64_t> askedMs{0};
    app.stats.sleep = [&](std::chrono::milliseconds period) {
        askedMs = period.count();
        ++sleeps;
        std::this_thread::sleep_for(1ms);
    };
    app.capture.skipCount = 9;
    app.stuckHigh = 0xFFFF;
    EXPECT_TRUE(app::startStatsThread(app));
    ASSERT_TRUE(eventually([&] { return sleeps >= 3; }, 1s));
    EXPECT_EQ(askedMs.load(), 1000);

    // Reopening the console: no second thread, and the counts go on.
    app.capture.skipCount += 4;
    EXPECT_FALSE(app::startStatsThread(app));
    const int seen = sleeps;
    EXPECT_TRUE(eventually([&] { return sleeps >= seen + 2; }, 1s));
    app::stopStatsThread(app);
    const std::string text = diag.text();
    EXPECT_EQ(text.rfind("OK=0 SKIPS=0 ERRORS=0 (00000000)\n", 0), 0u) << text; // reset at the start
    EXPECT_NE(text.find("SKIPS=4 "), std::string::npos) << text;
    EXPECT_EQ(app.capture.skipCount.load(), 4);
}

TEST_F(DebugConsoleTest, TheProgramsOwnWaitIsInterruptedWhenStopped) {
    EXPECT_TRUE(app::startStatsThread(app));
    EXPECT_TRUE(eventually([&] { return !diag.text().empty(); }, 1s));
    const auto before = std::chrono::steady_clock::now();
    app::stopStatsThread(app);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 900ms);
    EXPECT_EQ(diag.count("\n"), 1);
}
