// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Lifecycle.h"

#include "app/CaptureApp.h"
#include "app/FatalError.h"
#include "app/FrameArrival.h"
#include "display/FrameConversion.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/RecordingPlatform.h"
#include "fakes/TempFolders.h"
#include "platform/sim/SimulatedBoard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeControlWindow;
using tavrin::testing::RecordingPlatform;
using tavrin::testing::TempFolders;
using ::testing::ElementsAre;

namespace {

// The simulated board behind a gate: frame reads can be held inside the
// transfer, and the order of reads and closes is logged.
class GatedTransport : public device::UsbTransport {
  public:
    explicit GatedTransport(device::UsbTransport& inner) : inner_(inner) {}

    std::vector<std::string> listInterfaces() override { return inner_.listInterfaces(); }
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override {
        auto connection = inner_.open(path);
        return connection ? std::make_unique<Connection>(*this, std::move(connection)) : nullptr;
    }

    // Frame reads from now on wait inside the transfer until release().
    void hold() {
        std::lock_guard lk(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lk(mutex_);
            held_ = false;
        }
        cv_.notify_all();
    }
    bool waitUntilAReadIsHeld(std::chrono::milliseconds limit) {
        std::unique_lock lk(mutex_);
        return cv_.wait_for(lk, limit, [&] { return waiting_ > 0; });
    }
    std::vector<std::string> log() const {
        std::lock_guard lk(mutex_);
        return log_;
    }

  private:
    class Connection : public device::UsbConnection {
      public:
        Connection(GatedTransport& gate, std::unique_ptr<device::UsbConnection> inner)
            : gate_(gate), inner_(std::move(inner)) {}
        ~Connection() override { gate_.append("close"); }
        bool setPipeTimeout(uint8_t pipe, uint32_t ms) override { return inner_->setPipeTimeout(pipe, ms); }
        bool setRawIo(uint8_t pipe, bool on) override { return inner_->setRawIo(pipe, on); }
        device::TransferResult controlTransfer(const device::UsbSetup& setup, uint8_t* data) override {
            return inner_->controlTransfer(setup, data);
        }
        device::TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
            if (pipe == device::kFramePipe)
                gate_.waitWhileHeld();
            auto result = inner_->readPipe(pipe, buffer, length);
            if (pipe == device::kFramePipe)
                gate_.append("read");
            return result;
        }
        bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
            return inner_->startAsyncRead(pipe, buffer, length);
        }
        bool asyncReadPending(uint8_t pipe) override { return inner_->asyncReadPending(pipe); }

      private:
        GatedTransport& gate_;
        std::unique_ptr<device::UsbConnection> inner_;
    };

    void waitWhileHeld() {
        std::unique_lock lk(mutex_);
        if (!held_)
            return;
        ++waiting_;
        cv_.notify_all();
        cv_.wait(lk, [&] { return !held_; });
        --waiting_;
    }
    void append(std::string entry) {
        std::lock_guard lk(mutex_);
        log_.push_back(std::move(entry));
    }

    device::UsbTransport& inner_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool held_ = false;
    int waiting_ = 0;
    std::vector<std::string> log_;
};

struct LifecycleTest : ::testing::Test {
    explicit LifecycleTest(bool boardPresent = true, uint16_t version = 4) {
        sim::SimulatedBoard::Options options;
        options.present = boardPresent;
        options.version = version;
        options.framesPerSecond = 200;
        board = std::make_unique<sim::SimulatedBoard>(options);
        gate = std::make_unique<GatedTransport>(*board);
        app = std::make_unique<app::CaptureApp>(*gate, keys);
        platform = std::make_unique<RecordingPlatform>(*app, window);
        // By default the "loop" runs until a few frames have arrived.
        platform->onMessageLoop = [this] { ASSERT_TRUE(window.waitForFrames(3, 5000ms)); };
    }
    ~LifecycleTest() override {
        // A read thread left running by a test must end before the app goes.
        gate->release();
        device::usbThread_stop(app->capture, 5000ms);
        app->capture.controlWindow.set(nullptr);
    }

    int run() { return app::runProgram(*app, *platform, folders); }
    // The second half of start-up alone, with the control window in place.
    bool init() {
        app->capture.controlWindow.set(&window);
        return app::appInit(*app, *platform);
    }
    bool currentIsBoard() const { return app->capture.currentDevice.load() == &app->capture.boardDevice; }

    DiagnosticCapture diag;
    TempFolders folders;
    device::NoModifierKeys keys;
    FakeControlWindow window;
    std::unique_ptr<sim::SimulatedBoard> board;
    std::unique_ptr<GatedTransport> gate;
    std::unique_ptr<app::CaptureApp> app;
    std::unique_ptr<RecordingPlatform> platform;
};

struct WithoutBoard : LifecycleTest {
    WithoutBoard() : LifecycleTest(false) {}
};
struct BoardNeedingFirmware : LifecycleTest {
    BoardNeedingFirmware() : LifecycleTest(true, 1) {}
};

} // namespace

TEST_F(WithoutBoard, StartsWithTheNullDeviceWhiteFramesAndTheUpdateCheck) {
    bool nullDuringLoop = false;
    platform->onMessageLoop = [&] {
        ASSERT_TRUE(window.waitForFrames(3, 5000ms));
        nullDuringLoop = app->capture.currentDevice.load() == &app->capture.nullDevice;
    };
    EXPECT_EQ(run(), 0);
    EXPECT_THAT(platform->steps(),
                ElementsAre("initToolkit", "createControlWindow", "registerDeviceNotification",
                            "scheduleUpdateCheck", "runMessageLoop", "unregisterDeviceNotification",
                            "shutdownToolkit"));
    EXPECT_TRUE(nullDuringLoop);
    // "Not connected" comes from the UM_DEVICE 0 of the failed open.
    const auto notices = window.deviceNotices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), 0u);
    for (int32_t r : window.frameResults())
        EXPECT_EQ(r, device::FRAME_ERROR);
    for (bool white : window.frameWhite())
        EXPECT_TRUE(white);
    EXPECT_TRUE(folders.settingsFileExists());
}

TEST_F(LifecycleTest, StartsWithTheBoardOpenAndClosesItAtShutdown) {
    bool boardDuringLoop = false;
    platform->onMessageLoop = [&] {
        ASSERT_TRUE(window.waitForFrames(4, 5000ms));
        boardDuringLoop = currentIsBoard();
    };
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(boardDuringLoop);
    EXPECT_THAT(platform->steps(), ::testing::Contains("scheduleUpdateCheck"));
    // The read thread starts before the board is opened, so error frames from the
    // null device may come first; once the board is current, only whole frames.
    const auto results = window.frameResults();
    const auto firstOk = std::find(results.begin(), results.end(), device::FRAME_OK);
    ASSERT_NE(firstOk, results.end());
    EXPECT_TRUE(std::all_of(results.begin(), firstOk, [](int32_t r) { return r == device::FRAME_ERROR; }));
    EXPECT_TRUE(std::all_of(firstOk, results.end(), [](int32_t r) { return r == device::FRAME_OK; }));
    const auto notices = window.deviceNotices();
    EXPECT_NE(std::find(notices.begin(), notices.end(), 1u), notices.end());
    EXPECT_EQ(app->capture.currentDevice.load(), &app->capture.nullDevice);
    EXPECT_EQ(app->capture.boardDevice.state(), device::DEVICE_CLOSED);
    EXPECT_EQ(board->openConnections(), 0);
    EXPECT_TRUE(folders.settingsFileExists());
}

TEST_F(LifecycleTest, SettingsAreInPlaceBeforeTheControlWindowAndSavedAtTheEnd) {
    base::Settings stored = base::Settings::defaults(folders.desktop);
    stored.displayMode = 7;
    stored.recordFps = 20;
    base::saveSettings(stored, folders);

    int modeAtWindowCreation = 0;
    platform->onCreateControlWindow = [&] { modeAtWindowCreation = app->settings.displayMode; };
    platform->onMessageLoop = [&] {
        ASSERT_TRUE(window.waitForFrames(1, 5000ms));
        app->settings.recordFps = 60; // a change the user made
    };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(modeAtWindowCreation, 7);
    base::Settings reloaded;
    base::loadSettings(reloaded, folders);
    EXPECT_EQ(reloaded.recordFps, 60);
    EXPECT_EQ(reloaded.displayMode, 7);
}

TEST_F(LifecycleTest, ShutdownStopsTheThreadThenClosesUnderTheLockThenSaves) {
    bool threadEnded = false, deviceClosed = false, lockHeld = false, savedYet = true, savedAtEnd = false;
    platform->onUnregisterDeviceNotification = [&] {
        threadEnded = app->capture.readThreadEnded();
        deviceClosed = app->capture.boardDevice.state() == device::DEVICE_CLOSED && !currentIsBoard();
        // Another thread cannot take the application lock now.
        lockHeld = !std::async(std::launch::async, [&] {
                        const bool got = app->capture.appLock.try_lock();
                        if (got)
                            app->capture.appLock.unlock();
                        return got;
                    }).get();
        savedYet = folders.settingsFileExists();
    };
    platform->onShutdownToolkit = [&] { savedAtEnd = folders.settingsFileExists(); };
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(threadEnded);
    EXPECT_TRUE(deviceClosed);
    EXPECT_TRUE(lockHeld);
    EXPECT_FALSE(savedYet);
    EXPECT_TRUE(savedAtEnd);
}

TEST_F(BoardNeedingFirmware, GetsTheFirmwareDialogBeforeTheLoopAndNoUpdateCheck) {
    bool windowSetAtDialog = false;
    platform->onFirmwareDialog = [&] { windowSetAtDialog = app->capture.controlWindow.isSet(); };
    platform->onMessageLoop = [] {};
    EXPECT_EQ(run(), 0);
    EXPECT_THAT(platform->steps(),
                ElementsAre("initToolkit", "createControlWindow", "registerDeviceNotification",
                            "firmwareDialog", "runMessageLoop", "unregisterDeviceNotification",
                            "shutdownToolkit"));
    EXPECT_TRUE(windowSetAtDialog);
    EXPECT_FALSE(platform->closePosted);
    // Waiting for firmware: no UM_DEVICE 1 was posted.
    for (uintptr_t notice : window.deviceNotices())
        EXPECT_EQ(notice, 0u);
}

TEST_F(BoardNeedingFirmware, CancellingTheDialogClosesTheProgramWithSettingsSaved) {
    platform->firmwareDialogResult = 0;
    bool closedBeforeLoop = false;
    platform->onMessageLoop = [&] { closedBeforeLoop = platform->closePosted; };
    EXPECT_EQ(run(), 0);
    EXPECT_THAT(platform->steps(),
                ElementsAre("initToolkit", "createControlWindow", "registerDeviceNotification",
                            "firmwareDialog", "postClose", "runMessageLoop", "unregisterDeviceNotification",
                            "shutdownToolkit"));
    EXPECT_TRUE(closedBeforeLoop);
    EXPECT_TRUE(folders.settingsFileExists());
}

TEST_F(BoardNeedingFirmware, AFailedUpdateAlsoCloses) {
    platform->firmwareDialogResult = -3;
    platform->onMessageLoop = [] {};
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(platform->closePosted);
}

TEST_F(LifecycleTest, NoControlWindowEndsAtOnceWithNothingStartedOrSaved) {
    platform->controlWindowCreated = false;
    EXPECT_EQ(run(), 0);
    EXPECT_THAT(platform->steps(), ElementsAre("initToolkit", "createControlWindow"));
    EXPECT_FALSE(app->capture.readThreadRunning());
    EXPECT_EQ(board->openConnections(), 0);
    EXPECT_FALSE(folders.settingsFileExists());
}

TEST_F(LifecycleTest, CaptureStartFailureShowsTheBoxAndExitsWithoutSaving) {
    const int code = app::runProgram(*app, *platform, folders, [](device::CaptureSession&) { return false; });
    EXPECT_EQ(code, -1);
    EXPECT_THAT(platform->steps(),
                ElementsAre("initToolkit", "createControlWindow", "registerDeviceNotification",
                            "errorBox:usbThread_start() failed", "exitProcess:-1"));
    EXPECT_TRUE(board->controlRequests().empty()); // the board was never opened
    EXPECT_FALSE(folders.settingsFileExists());
}

TEST_F(LifecycleTest, FailedNotificationRegistrationIsNotAnError) {
    platform->notificationRegistered = false;
    EXPECT_EQ(run(), 0);
    const auto steps = platform->steps();
    EXPECT_THAT(steps, ::testing::Contains("runMessageLoop"));
    EXPECT_THAT(steps, ::testing::Not(::testing::Contains("unregisterDeviceNotification")));
    EXPECT_TRUE(folders.settingsFileExists());
}

TEST_F(LifecycleTest, TheFatalErrorHookShowsTheBoxAndExitsDuringTheRunOnly) {
    platform->onMessageLoop = [&] { app::reportFatalError(*app, "Out of memory"); };
    EXPECT_EQ(run(), 0); // the test platform's exit returns
    EXPECT_THAT(platform->steps(), ::testing::IsSupersetOf({"errorBox:Out of memory", "exitProcess:-1"}));
    EXPECT_FALSE(app->fatalErrorHook);
}

TEST_F(LifecycleTest, ADeviceSwitchWaitsForAFrameReadInProgress) {
    ASSERT_TRUE(init());
    ASSERT_TRUE(currentIsBoard());
    ASSERT_TRUE(window.waitForFrames(2, 5000ms));

    gate->hold();
    ASSERT_TRUE(gate->waitUntilAReadIsHeld(5000ms));
    auto switched =
        std::async(std::launch::async, [&] { return device::switchDevice(app->capture, nullptr); });
    EXPECT_EQ(switched.wait_for(200ms), std::future_status::timeout);
    gate->release();
    ASSERT_EQ(switched.wait_for(5000ms), std::future_status::ready);
    EXPECT_TRUE(switched.get());

    // The read finished before the board was closed and opened again.
    const auto log = gate->log();
    const auto close = std::find(log.begin(), log.end(), "close");
    ASSERT_NE(close, log.end());
    ASSERT_NE(close, log.begin());
    EXPECT_EQ(*(close - 1), "read");
    EXPECT_TRUE(currentIsBoard());
}

TEST_F(LifecycleTest, ShutdownWithAStuckReadGoesOnAfterHalfASecondYetClosesOnlyAfterTheRead) {
    ASSERT_TRUE(init());
    ASSERT_TRUE(window.waitForFrames(2, 5000ms));
    gate->hold();
    ASSERT_TRUE(gate->waitUntilAReadIsHeld(5000ms));

    auto shutdown = std::async(std::launch::async, [&] { app::appShutdown(*app, *platform, folders); });
    // Past the 500 ms limit the thread is given up on, but the close waits for the lock.
    EXPECT_EQ(shutdown.wait_for(900ms), std::future_status::timeout);
    EXPECT_FALSE(folders.settingsFileExists());
    gate->release();
    ASSERT_EQ(shutdown.wait_for(5000ms), std::future_status::ready);
    EXPECT_TRUE(folders.settingsFileExists());
    EXPECT_EQ(board->openConnections(), 0);
    // The abandoned thread still ends by itself.
    EXPECT_TRUE(eventually([&] { return app->capture.readThreadEnded(); }, 2s));
}

TEST_F(BoardNeedingFirmware, AnArrivalOfTheBoardOffersTheFirmwareDialog) {
    ASSERT_TRUE(init()); // dialog at start: result 1, program goes on
    EXPECT_TRUE(device::switchDevice(app->capture, &device::kTavrinInterfaceClass));
    EXPECT_TRUE(app::offerFirmwareUpdate(*app, *platform));
    const auto steps = platform->steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "firmwareDialog"), 2);
}

TEST_F(LifecycleTest, AnArrivalOfAnotherClassLeavesTheNullDeviceAndOffersNothing) {
    ASSERT_TRUE(init());
    device::InterfaceClassId other = device::kTavrinInterfaceClass;
    other.bytes[15] ^= 1;
    EXPECT_FALSE(device::switchDevice(app->capture, &other));
    EXPECT_EQ(app->capture.currentDevice.load(), &app->capture.nullDevice);
    EXPECT_FALSE(app::offerFirmwareUpdate(*app, *platform));
    EXPECT_THAT(platform->steps(), ::testing::Not(::testing::Contains("firmwareDialog")));
}

TEST_F(WithoutBoard, FramesConvertToWhitePicturesInTheLoop) {
    FakeControlWindow holding(false);
    RecordingPlatform holdingPlatform(*app, holding);
    bool white = false;
    holdingPlatform.onMessageLoop = [&] {
        ASSERT_TRUE(holding.waitForFrames(1, 5000ms));
        device::CaptureFrame* frame = holding.heldFrames().front();
        app::convertFrame(*app, *frame);
        white = frame->image.size() == 256u * 384 * 4 && frame->image[0] == 255 && frame->image[1] == 255 &&
                frame->image[2] == 255 && frame->image[3] == 0;
        holding.releaseAll();
    };
    EXPECT_EQ(app::runProgram(*app, holdingPlatform, folders), 0);
    EXPECT_TRUE(white);
}
