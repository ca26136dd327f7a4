// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FirmwareDialogLogic.h"

#include "app/CaptureApp.h"
#include "device/FirmwareImage.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeFirmwareDialogView.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace tavrin;
using namespace tavrin::device;
using tavrin::app::FirmwareDialogLogic;
using tavrin::app::FirmwareDialogView;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeControlWindow;
using tavrin::testing::FakeFirmwareDialogView;
using tavrin::testing::FakeInflater;
using tavrin::testing::kFakeContainer;
using tavrin::testing::makeFirmwareTestImage;

namespace {

struct DialogFixture : ::testing::Test {
    DialogFixture() {
        app.capture.controlWindow.set(&window);
        app.capture.boardDevice.setFirmwareImage(kFakeContainer, &inflater);
        std::lock_guard lk(app.capture.appLock);
        app.capture.currentDevice = app.capture.boardDevice.open(nullptr)
                                        ? static_cast<UsbDevice*>(&app.capture.boardDevice)
                                        : &app.capture.nullDevice;
    }
    ~DialogFixture() override { app.capture.controlWindow.set(nullptr); }

    static sim::SimulatedBoard::Options options() {
        sim::SimulatedBoard::Options o;
        o.framesPerSecond = 0;
        o.version = 1;
        o.reconnectDelay = 0ms;
        return o;
    }

    // Plays the dialog's thread: waits for the worker and hands its result back.
    int finish() {
        const auto code = view.waitFinished(10s);
        EXPECT_TRUE(code.has_value()) << "the worker never reported";
        logic.workerFinished(code.value_or(-999));
        return code.value_or(-999);
    }

    DiagnosticCapture diag;
    FakeControlWindow window;
    sim::SimulatedBoard board{options()};
    NoModifierKeys keys;
    FakeInflater inflater{makeFirmwareTestImage()};
    app::CaptureApp app{board, keys};
    FakeFirmwareDialogView view;
    FirmwareDialogLogic logic{app, view};
};

} // namespace

TEST_F(DialogFixture, StartRunsTheUpdateOnAWorkerAndEndsWithOne) {
    logic.init();
    EXPECT_EQ(view.calls(), (std::vector<std::string>{"progress 0", "text Start", "enable"}));
    view.clearCalls();

    logic.start();
    EXPECT_EQ(view.calls().front(), "disable") << "both buttons go off before the worker starts";
    EXPECT_TRUE(logic.running());
    EXPECT_EQ(finish(), FW_OK);
    EXPECT_FALSE(logic.running());
    EXPECT_EQ(view.result(), 1);
    EXPECT_EQ(view.progress().back(), 1000);
    EXPECT_EQ(app.capture.boardDevice.state(), DEVICE_CLOSED);
    const auto calls = view.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "enable"), 0);
}

TEST_F(DialogFixture, FailureShowsTheBoxThenOffersRetryWhichCanSucceed) {
    logic.init();
    board.refuseReadBacks(-1);
    logic.start();
    EXPECT_EQ(finish(), FW_PAGE_PROGRAM);
    const auto calls = view.calls();
    const std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"failure Error (116)", "progress 0", "text Retry", "enable"}));
    EXPECT_FALSE(view.result().has_value()) << "a failure does not end the dialog";
    EXPECT_EQ(app.capture.boardDevice.state(), DEVICE_FIRMWARE_REQUIRED);

    board.refuseReadBacks(0);
    logic.start();
    EXPECT_EQ(finish(), FW_OK);
    EXPECT_EQ(view.result(), 1);
}

TEST_F(DialogFixture, CancelEndsWithZeroOnlyWhileTheButtonsAreEnabled) {
    logic.init();
    board.refuseReadBacks(-1); // keeps the worker busy for about half a second
    logic.start();
    EXPECT_FALSE(logic.cancel()) << "the dialog must outlive its worker";
    EXPECT_FALSE(view.result().has_value());
    finish();
    EXPECT_TRUE(logic.cancel());
    EXPECT_EQ(view.result(), 0);
}

TEST_F(DialogFixture, CancelBeforeStartEndsWithZeroAndTouchesNothing) {
    logic.init();
    EXPECT_TRUE(logic.cancel());
    EXPECT_EQ(view.result(), 0);
    EXPECT_TRUE(board.pageWrites().empty());
    EXPECT_EQ(app.capture.boardDevice.state(), DEVICE_FIRMWARE_REQUIRED);
}

TEST_F(DialogFixture, DeviceThatNoLongerAsksForFirmwareGivesCode66) {
    logic.init();
    {
        std::lock_guard lk(app.capture.appLock);
        app.capture.currentDevice.load()->close();
        app.capture.currentDevice = &app.capture.nullDevice;
    }
    logic.start();
    EXPECT_EQ(finish(), FW_NOT_REQUIRED);
    const auto calls = view.calls();
    EXPECT_EQ(calls[calls.size() - 4], "failure Error (66)");

    // A board opened normally is not updated either.
    board.setVersion(4);
    {
        std::lock_guard lk(app.capture.appLock);
        ASSERT_TRUE(app.capture.boardDevice.open(nullptr));
        app.capture.currentDevice = &app.capture.boardDevice;
    }
    logic.start();
    EXPECT_EQ(finish(), FW_NOT_REQUIRED);
    EXPECT_TRUE(board.pageWrites().empty());
}

TEST_F(DialogFixture, WorkerHoldsTheLockFromTheFirstProgressToTheEndOfTheUpdate) {
    logic.init();
    view.clearCalls();
    logic.start();
    ASSERT_TRUE(eventually([&] { return !view.progress().empty() || view.finishedPosted(); }, 10s));
    ASSERT_FALSE(view.finishedPosted()) << "the update should still be running";
    {
        // Like a device switch on the dialog's thread: it waits for the whole update.
        std::lock_guard lk(app.capture.appLock);
        EXPECT_EQ(app.capture.boardDevice.state(), DEVICE_CLOSED)
            << "the lock came free before the update ended";
        EXPECT_EQ(board.pageWrites().size(), 145u);
    }
    EXPECT_EQ(finish(), FW_OK);
}
