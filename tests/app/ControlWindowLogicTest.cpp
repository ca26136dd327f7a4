// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ControlWindowLogic.h"

#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/Messages.h"
#include "device/DeviceArrival.h"
#include "device/FrameQueue.h"
#include "device/ReadThread.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeControlWindowParts.h"
#include "fakes/TempDir.h"
#include "platform/sim/SimulatedBoard.h"

#include <gmock/gmock.h>

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::testing::controlwindow;
using tavrin::testing::eventually;
using ::testing::ElementsAre;

namespace {

// Runs each test in an empty folder of its own: recording names are probed there.
struct TempFolder {
    TempFolder() { std::filesystem::current_path(dir.path()); }
    void touch(const char* name) const { dir.write(name, ""); }
    tavrin::testing::TempDir dir;
    tavrin::testing::CurrentDirGuard back; // leaves the folder before it is removed
};

struct ControlWindowTest : ::testing::Test {
    ControlWindowTest() {
        EXPECT_TRUE(app.capture.framePool.setup());
        app.capture.currentDevice = &app.capture.nullDevice;
        app.capture.controlWindow.set(&posted);
    }
    ~ControlWindowTest() override { app.capture.controlWindow.set(nullptr); }

    ControlWindowLogic& make(bool withScreenshots = true) {
        ControlWindowLogic::Services s{view, displays, recorder, withScreenshots ? &screenshots : nullptr};
        s.offerFirmwareUpdate = [this] {
            log.push_back("offerFirmwareUpdate state=" +
                          std::to_string(app.capture.currentDevice.load()->state()));
            return false;
        };
        s.toggleDebugConsole = [this] { log.push_back("toggleDebugConsole"); };
        s.camera = &camera;
        s.listener = &listener;
        s.showAudioSettingsDialog = audioSettingsDialog;
        logic = std::make_unique<ControlWindowLogic>(app, std::move(s));
        return *logic;
    }
    ControlWindowLogic& started(bool withScreenshots = true) {
        make(withScreenshots).initialise(self);
        log.clear();
        return *logic;
    }
    void storeLayout(int32_t mode, bool split) {
        app.settings.displayMode = mode;
        app.settings.splitWindows = split;
    }

    device::FrameRef takeFrame() {
        device::FrameRef f = app.capture.framePool.take(std::chrono::milliseconds(0));
        EXPECT_TRUE(f);
        EXPECT_EQ(f->refCount, 1);
        std::fill_n(f->data.get(), device::kPictureBytes, uint8_t{0xFF}); // as an error frame
        return f;
    }
    // Hands the frame over as the read thread's post does; returns it for the checks.
    device::CaptureFrame* post(device::FrameRef f) {
        device::CaptureFrame* frame = f.get();
        logic->handleFrame(std::move(f));
        return frame;
    }
    int freeFrames() { return app.capture.framePool.queue().count(); }

    TempFolder folder;
    tavrin::testing::DiagnosticCapture diagnostics;
    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    tavrin::testing::FakeControlWindow posted; // what the board posts (UM_DEVICE)
    CaptureApp app{board, keys};               // its frame pool outlives every holder below
    Log log;
    FakeView view{log};
    FakeDisplayManager displays{log, app.settings};
    FakeRecording recorder{log};
    FakeScreenshots screenshots{log};
    FakeCamera camera{log};
    FakeListener listener;
    std::function<void()> audioSettingsDialog; // none unless a test sets it
    tavrin::testing::FakeControlWindow self;
    std::unique_ptr<ControlWindowLogic> logic;
};

// ---- frame dispatch ----

TEST_F(ControlWindowTest, OneWindowHoldsTheFrameAloneAndGivesItBack) {
    started();
    auto* f = post(takeFrame());
    EXPECT_THAT(log, ElementsAre("main.present refs=1"));
    EXPECT_EQ(f->layout.layoutId, 6); // converted first
    EXPECT_EQ(f->refCount, 1);
    EXPECT_EQ(displays.main->held.get(), f);
    EXPECT_EQ(freeFrames(), 11);

    // The next frame replaces it, and the first one is back in the pool.
    auto* g = post(takeFrame());
    EXPECT_EQ(displays.main->held.get(), g);
    EXPECT_EQ(f->refCount, 0);
    EXPECT_EQ(freeFrames(), 11);
}

TEST_F(ControlWindowTest, TwoWindowsRecorderAndScreenshotEachHoldOneReferenceInOrder) {
    storeLayout(6, true);
    started();
    logic->command(IDC_RECORD);
    ASSERT_TRUE(app.recording);
    logic->command(IDC_SCREENSHOT);
    log.clear();

    auto* f = post(takeFrame());
    EXPECT_THAT(log, ElementsAre("putFrame refs=1 layout=6", "startScreenshot refs=2",
                                 "bottom.present refs=4", "main.present refs=4"));
    EXPECT_EQ(f->refCount, 4);
    EXPECT_EQ(displays.bottom->held.get(), f);
    EXPECT_EQ(displays.main->held.get(), f);

    // Every holder lets go: the frame returns to the pool exactly once.
    recorder.releaseFrames();
    screenshots.releaseFrames();
    displays.bottom->drop();
    EXPECT_EQ(freeFrames(), 11);
    displays.main->drop();
    EXPECT_EQ(f->refCount, 0);
    EXPECT_EQ(freeFrames(), 12);
}

TEST_F(ControlWindowTest, WithoutDisplayWindowsTheControlWindowReleasesItsReference) {
    started();
    displays.main.reset();
    auto* f = post(takeFrame());
    EXPECT_EQ(f->refCount, 0);
    EXPECT_EQ(freeFrames(), 12);
}

TEST_F(ControlWindowTest, TheCameraHoldsAFrameOnlyWhileAProgramReadsIt) {
    storeLayout(6, true);
    started();
    // Nobody reads the camera: it is not even given a hold.
    auto* f = post(takeFrame());
    EXPECT_THAT(log, ElementsAre("bottom.present refs=2", "main.present refs=2"));
    EXPECT_FALSE(camera.held);

    // A reader: the converted frame is shared with the camera before the windows take it.
    camera.reading = true;
    log.clear();
    auto* g = post(takeFrame());
    EXPECT_THAT(
        log, ElementsAre("camera.present refs=2 layout=6", "bottom.present refs=3", "main.present refs=3"));
    EXPECT_EQ(camera.held.get(), g);
    EXPECT_EQ(f->refCount, 0);

    // Its hold is its own: the frame returns to the pool only when it lets go too.
    displays.bottom->drop();
    displays.main->drop();
    EXPECT_EQ(g->refCount, 1);
    EXPECT_EQ(freeFrames(), 11);
    camera.held.reset();
    EXPECT_EQ(freeFrames(), 12);
}

TEST_F(ControlWindowTest, TheCameraSwitchIsAppliedAtStartAndWhenTheMenuChangesIt) {
    app.options.camera = false; // as stored in options.conf
    started();
    EXPECT_THAT(camera.enabledCalls, ElementsAre(false));
    app.options.camera = true; // the display window's menu item flips it, then posts
    EXPECT_TRUE(logic->handleMessage(base::UM_CAMERA, 0, 0));
    EXPECT_THAT(camera.enabledCalls, ElementsAre(false, true));
}

TEST_F(ControlWindowTest, TheListenSwitchAndItsInputReachTheListenerAtStartFromTheMenuAndTheDialog) {
    app.options.listen = true; // as stored in options.conf
    app.settings.audioSource.assign("Line In");
    audioSettingsDialog = [this] { app.settings.audioSource.assign("(no sound)"); };
    started();
    EXPECT_THAT(listener.calls, ElementsAre("on Line In"));
    app.options.listen = false; // the display window's menu item or F7 flips it, then posts
    EXPECT_TRUE(logic->handleMessage(base::UM_LISTEN, 0, 0));
    app.options.listen = true;
    logic->command(IDC_AUDIO_SETTINGS); // another input chosen: the listening moves to it
    EXPECT_THAT(listener.calls, ElementsAre("on Line In", "off Line In", "on (no sound)"));
}

TEST_F(ControlWindowTest, TwoScreenshotClicksBeforeAFrameGiveOneScreenshot) {
    started();
    logic->command(IDC_SCREENSHOT);
    logic->command(IDC_SCREENSHOT);
    EXPECT_TRUE(app.screenshotRequested);
    post(takeFrame());
    post(takeFrame());
    EXPECT_EQ(screenshots.frames.size(), 1u);
    EXPECT_FALSE(app.screenshotRequested);
}

TEST_F(ControlWindowTest, ScreenshotClickWithoutScreenshotSupportSaysSo) {
    started(false);
    logic->command(IDC_SCREENSHOT);
    EXPECT_FALSE(app.screenshotRequested);
    EXPECT_THAT(view.status, ::testing::HasSubstr("not available"));
    post(takeFrame());
    EXPECT_EQ(freeFrames(), 11); // only the display window holds it
}

// ---- initialisation and the layout list ----

TEST_F(ControlWindowTest, InitialisationFillsTheListSelectsTheStoredLayoutAndFocusesTheDisplay) {
    storeLayout(6, true);
    make().initialise(self);
    EXPECT_THAT(view.items, ElementsAre("Single window", "Split window", "Pellan"));
    EXPECT_EQ(view.selected, 1);
    EXPECT_THAT(log, ElementsAre("applyDisplayMode:6,1"));
    EXPECT_EQ(view.focusRequests, 1);
    auto posted = self.messages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, base::UM_FOCUS_DISPLAY);
    EXPECT_EQ(base::UM_FOCUS_DISPLAY, 1026u);

    logic->handleMessage(base::UM_FOCUS_DISPLAY, 0, 0);
    EXPECT_EQ(log.back(), "focusMainDisplay");
}

TEST_F(ControlWindowTest, StoredLayoutWithoutAnItemLeavesNoSelectionButIsApplied) {
    storeLayout(7, true);
    make().initialise(self);
    EXPECT_EQ(view.selected, -1);
    EXPECT_THAT(log, ElementsAre("applyDisplayMode:7,1"));
}

TEST_F(ControlWindowTest, StoredLayoutThatNamesNoPictureFallsBackToTheDualScreen) {
    for (int bad : {0, 3, 8, -1}) {
        storeLayout(bad, true);
        log.clear();
        make().initialise(self);
        EXPECT_EQ(view.selected, 0) << bad;
        EXPECT_THAT(log, ElementsAre("applyDisplayMode:6,0")) << bad;
        EXPECT_EQ(app.settings.displayMode, 6);
    }
}

TEST_F(ControlWindowTest, PickingTheLayoutInEffectDoesNothingAndAnotherAppliesIt) {
    started();
    logic->displayModeSelected(0);
    EXPECT_TRUE(log.empty());
    logic->displayModeSelected(2);
    logic->displayModeSelected(2);
    logic->displayModeSelected(1);
    logic->displayModeSelected(-1);
    EXPECT_THAT(log, ElementsAre("applyDisplayMode:7,0", "applyDisplayMode:6,1"));
}

// ---- recording ----

TEST_F(ControlWindowTest, RecordingStartsBlinksAndStops) {
    folder.touch("00000.avi");
    started();
    logic->command(IDC_RECORD);
    EXPECT_EQ(log.front(), "startRecording:00001.avi");
    EXPECT_EQ(app.aviCounter, 2u);
    EXPECT_TRUE(app.recording);
    EXPECT_TRUE(view.checked);
    EXPECT_EQ(view.icon, RecordIcon::Active);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_EQ(view.timerPeriod, std::chrono::milliseconds(350));
    EXPECT_FALSE(view.settingsEnabled);

    // While recording the settings stay shut, whatever reaches the handlers.
    logic->displayModeSelected(2);
    logic->command(IDC_VIDEO_SETTINGS);
    logic->command(IDC_AUDIO_SETTINGS);
    EXPECT_EQ(log.size(), 1u);

    // Blinking alternates the icons, starting from the active one, and refreshes the status.
    std::vector<RecordIcon> icons;
    for (int i = 0; i < 4; ++i) {
        logic->blinkTimer();
        icons.push_back(view.icon);
    }
    EXPECT_THAT(icons,
                ElementsAre(RecordIcon::Idle, RecordIcon::Active, RecordIcon::Idle, RecordIcon::Active));
    EXPECT_EQ(view.status, "recording 4");

    logic->command(IDC_RECORD);
    EXPECT_FALSE(app.recording);
    EXPECT_EQ(log[log.size() - 2], "stopRecording");
    EXPECT_EQ(view.status, "Stopped.");
    EXPECT_FALSE(view.checked);
    EXPECT_EQ(view.icon, RecordIcon::Idle);
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.settingsEnabled);

    // A tick that was already queued changes nothing.
    logic->blinkTimer();
    EXPECT_EQ(view.icon, RecordIcon::Idle);
}

TEST_F(ControlWindowTest, RecordingThatStopsItselfBringsTheControlsBackAndKeepsItsReason) {
    recorder.failAtStatusUpdate = 2;
    started();
    logic->command(IDC_RECORD);
    logic->blinkTimer();
    EXPECT_TRUE(app.recording);
    logic->blinkTimer();
    EXPECT_FALSE(app.recording);
    EXPECT_EQ(view.status, "Stopped. The disk is full.");
    EXPECT_FALSE(view.checked);
    EXPECT_EQ(view.icon, RecordIcon::Idle);
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.settingsEnabled);
    // The next press starts a new recording rather than stopping the dead one.
    logic->command(IDC_RECORD);
    EXPECT_TRUE(app.recording);
    EXPECT_EQ(log.back(), "startRecording:00001.avi");
}

TEST_F(ControlWindowTest, RecordingThatDoesNotStartLeavesTheWindowIdle) {
    recorder.startSucceeds = false;
    started();
    view.checked = true; // as a click may have left it
    logic->command(IDC_RECORD);
    EXPECT_FALSE(app.recording);
    EXPECT_FALSE(view.checked);
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.settingsEnabled);
    EXPECT_EQ(view.status, "Stopped.");
    // The next try takes the next name.
    logic->command(IDC_RECORD);
    EXPECT_EQ(log.back(), "status:Stopped.");
    EXPECT_NE(std::find(log.begin(), log.end(), "startRecording:00001.avi"), log.end());
}

TEST_F(ControlWindowTest, NoFreeRecordingNameStartsNothing) {
    started();
    app.aviCounter = 99999;
    folder.touch("99999.avi");
    logic->command(IDC_RECORD);
    EXPECT_FALSE(app.recording);
    EXPECT_THAT(log, ElementsAre(::testing::StartsWith("status:No free recording name")));
}

// ---- closing ----

TEST_F(ControlWindowTest, ClosingWhileRecordingStopsTheRecordingBeforeTheWindowsGo) {
    storeLayout(6, true);
    started();
    logic->command(IDC_RECORD);
    post(takeFrame());
    log.clear();

    EXPECT_TRUE(logic->handleMessage(base::WM_CLOSE, 0, 0));
    EXPECT_THAT(log, ElementsAre("stopRecording", "status:Stopped.", "destroyDisplayWindows", "destroyWindow",
                                 "quit:0"));
    EXPECT_TRUE(logic->destroyed());
    EXPECT_FALSE(view.timerRunning);

    // Frames still on their way go straight back; nothing else is handled.
    recorder.releaseFrames();
    EXPECT_EQ(freeFrames(), 12);
    post(takeFrame());
    EXPECT_EQ(freeFrames(), 12);
    log.clear();
    logic->handleMessage(base::WM_CLOSE, 0, 0);
    logic->handleMessage(base::UM_DEVICE, 1, 0);
    logic->command(IDC_RECORD);
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlWindowTest, ClosingWhenIdleStillStopsTheRecordingSide) {
    started();
    logic->handleMessage(base::WM_CLOSE, 0, 0);
    EXPECT_THAT(log, ElementsAre("stopRecording", "destroyDisplayWindows", "destroyWindow", "quit:0"));
}

// ---- other messages ----

TEST_F(ControlWindowTest, DeviceNoticesSetTheStatusLine) {
    started();
    logic->handleMessage(base::UM_DEVICE, 1, 0);
    EXPECT_EQ(view.status, "Connected");
    logic->handleMessage(base::UM_DEVICE, 0, 0);
    EXPECT_EQ(view.status, "Not connected");
    logic->handleMessage(base::UM_DEVICE, base::kDeviceNoPermission, 0);
#ifdef _WIN32
    EXPECT_EQ(view.status, "Cannot open the board: close any other program using it, check that it uses the "
                           "WinUSB driver (see README) and plug it in again");
#else
    EXPECT_EQ(view.status,
              "No permission to open the board: install the udev rule (see README) and plug it in again");
#endif
    // The program's own message numbers are fixed.
    EXPECT_EQ((std::array{base::UM_FRAME, base::UM_FOCUS_DISPLAY, base::UM_DEVICE, base::UM_TOPMOST}),
              (std::array<uint32_t, 4>{1025, 1026, 1027, 1028}));
}

TEST_F(ControlWindowTest, TopmostAndConsoleToggleReachTheirParts) {
    started();
    EXPECT_FALSE(logic->handleMessage(base::UM_TOPMOST, 0, 0));
    logic->handleMessage(base::WM_SYSCOMMAND, base::kDebugConsoleCommand, 0);
    logic->handleMessage(base::WM_SYSCOMMAND, 0xF060, 0); // another system command
    EXPECT_THAT(log, ElementsAre("applyTopmost", "toggleDebugConsole"));
}

TEST_F(ControlWindowTest, BoardArrivalReopensTheBoardThenOffersFirmware) {
    started();
    ASSERT_TRUE(device::switchDevice(app.capture, nullptr)); // the board is open already
    ASSERT_EQ(board.openConnections(), 1);
    posted.clear();

    logic->deviceArrived(device::kBoardArrival);
    // Closed (UM_DEVICE 0) and opened again (UM_DEVICE 1); the offer comes after the switch.
    const auto notices = posted.deviceNotices();
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(notices.front(), 0u);
    EXPECT_EQ(notices.back(), 1u);
    EXPECT_EQ(app.capture.currentDevice.load(), &app.capture.boardDevice);
    EXPECT_EQ(board.openConnections(), 1);
    EXPECT_THAT(log, ElementsAre("offerFirmwareUpdate state=2"));

    // A board that needs firmware arrives: the offer sees it.
    log.clear();
    board.setVersion(1);
    logic->deviceArrived(device::kBoardArrival);
    EXPECT_THAT(log, ElementsAre("offerFirmwareUpdate state=1"));
}

TEST_F(ControlWindowTest, ArrivalDuringAFirmwareUpdateIsRetriedInsteadOfWaitingForTheLock) {
    started();
    std::atomic<bool> held{false}, release{false};
    std::thread update([&] { // stands in for the firmware worker, which holds the lock throughout
        std::lock_guard lk(app.capture.appLock);
        held = true;
        eventually([&] { return release.load(); }, std::chrono::seconds(10));
    });
    ASSERT_TRUE(eventually([&] { return held.load(); }));

    logic->deviceArrived(device::kBoardArrival); // returns at once
    ASSERT_EQ(view.retries.size(), 1u);
    EXPECT_GT(view.retryDelay.count(), 0);
    EXPECT_TRUE(log.empty()) << "no firmware offer before the switch";
    EXPECT_EQ(board.openConnections(), 0);

    release = true;
    update.join();
    view.retries[0]();
    EXPECT_EQ(view.retries.size(), 1u);
    EXPECT_EQ(app.capture.currentDevice.load(), &app.capture.boardDevice);
    EXPECT_THAT(log, ElementsAre("offerFirmwareUpdate state=2"));
}

TEST_F(ControlWindowTest, ABoardArrivalGetsTheLockWhileTheReadThreadStreamsAtSixtyFramesASecond) {
    started();
    ASSERT_TRUE(device::switchDevice(app.capture, nullptr));
    ASSERT_TRUE(device::usbThread_start(app.capture));
    struct StopReading {
        CaptureApp& app;
        ~StopReading() { device::usbThread_stop(app.capture, std::chrono::seconds(2)); }
    } stopReading{app};
    ASSERT_TRUE(posted.waitForFrames(10, std::chrono::seconds(5)));

    // The arrival and its retries as the window's timer runs them, for at most 10 s.
    logic->deviceArrived(device::kBoardArrival);
    for (std::size_t i = 0; log.empty() && i < view.retries.size() && i < 1000; ++i) {
        std::this_thread::sleep_for(view.retryDelay); // the window's timer
        view.retries[i]();
    }
    ASSERT_THAT(log, ElementsAre("offerFirmwareUpdate state=2")) << view.retries.size() << " retries";
    // The board opened again streams on.
    EXPECT_TRUE(posted.waitForFrames(posted.frameCount() + 10, std::chrono::seconds(5)));
}

TEST_F(ControlWindowTest, ArrivalsOfAnotherInterfaceClassOrAfterClosingAreIgnored) {
    started();
    // Another interface class: the board is not opened for it.
    device::DeviceArrival other = device::kBoardArrival;
    other.interfaceClass.bytes[0] ^= 1;
    logic->deviceArrived(other);
    EXPECT_EQ(board.openConnections(), 0);
    EXPECT_EQ(app.capture.currentDevice.load(), &app.capture.nullDevice);

    // A closed window switches nothing, even for the board.
    logic->handleMessage(base::WM_CLOSE, 0, 0);
    log.clear();
    logic->deviceArrived(device::kBoardArrival);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(board.openConnections(), 0);
}

TEST_F(ControlWindowTest, ASettingsNoticeStaysBelowTheConnectionStateUntilTheFirstOtherStatus) {
    app.settingsNotice = "The settings file was damaged";
    started(false);
    EXPECT_EQ(view.status, "The settings file was damaged");
    logic->handleMessage(base::UM_DEVICE, 0, 0);
    logic->handleMessage(base::UM_DEVICE, 1, 0);
    EXPECT_EQ(view.status, "Connected\nThe settings file was damaged");
    // Any other status (here from a part writing to the line itself) ends it.
    logic->statusLine().setStatusText("Saved 00000.png");
    logic->handleMessage(base::UM_DEVICE, 0, 0);
    EXPECT_EQ(view.status, "Not connected");
}

TEST_F(ControlWindowTest, RecordingsLeftUnfinishedAreFinishedAtStartWithANote) {
    app.settingsNotice = "The settings file was damaged";
    recorder.recovered = "Recovered 00003.avi";
    started(false);
    EXPECT_EQ(recorder.recoveries, 1);
    EXPECT_EQ(recorder.soundInputsPrepared, 1) << "the recorder opens the sound input ahead where it can";
    EXPECT_EQ(view.status, "The settings file was damaged Recovered 00003.avi");
    logic->handleMessage(base::UM_DEVICE, 1, 0);
    EXPECT_EQ(view.status, "Connected\nThe settings file was damaged Recovered 00003.avi");
}

TEST_F(ControlWindowTest, OutputFolderAndSettingsButtons) {
    started(false);
    logic->command(IDC_OUTPUT_FOLDER);
    EXPECT_THAT(view.status, ::testing::HasSubstr("output folder"));
    logic->command(IDC_VIDEO_SETTINGS);
    EXPECT_THAT(view.status, ::testing::HasSubstr("Video settings"));
    started(true);
    logic->command(IDC_OUTPUT_FOLDER);
    EXPECT_EQ(log.back(), "chooseOutputFolder");
}

} // namespace
