// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware update as the program runs it, through the application's own start-up,
// loop and shutdown (app/Lifecycle.h): a board that needs firmware at start-up gets the
// dialog before the message loop; after the update it comes back as a new arrival and
// opens normally. The platform here plays the main thread: a posted-message loop, the
// firmware dialog's widgets and the device-arrival handler.
#include "app/AppPlatform.h"
#include "app/CaptureApp.h"
#include "app/FirmwareDialogLogic.h"
#include "app/Lifecycle.h"
#include "device/FirmwareImage.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "fakes/TempFolders.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

using namespace tavrin;
using namespace tavrin::device;
using tavrin::app::FirmwareDialogLogic;
using tavrin::app::FirmwareDialogView;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeInflater;
using tavrin::testing::kFakeContainer;
using tavrin::testing::makeFirmwareTestImage;
using tavrin::testing::TempFolders;

namespace {

constexpr uint32_t kProgressMessage = 1124;
constexpr uint32_t kWorkerDoneMessage = 1125;
constexpr uint32_t kArrivalMessage = 1126; // the board's interface appeared

class FirmwarePlatform : public app::AppPlatform, public device::FrameSink, public FirmwareDialogView {
  public:
    using Clock = std::chrono::steady_clock;

    explicit FirmwarePlatform(app::CaptureApp& app) : app_(app) {}

    // --- AppPlatform ---
    void initToolkit() override { steps.push_back("initToolkit"); }
    bool createControlWindow() override {
        steps.push_back("createControlWindow");
        app_.capture.controlWindow.set(this);
        return true;
    }
    bool registerDeviceNotification() override { return true; }
    void unregisterDeviceNotification() override {}
    // Arrivals reach the control window as posted messages, like the hotplug watcher's.
    void postBoardArrival() override { postMessage(kArrivalMessage, 0, 0); }
    // Runs until WM_CLOSE, or until `closeWhen` holds (the test's way of closing).
    void runMessageLoop() override {
        steps.push_back("messageLoop");
        if (!eventually([this] { return closed_ || (closeWhen && closeWhen()); }, 10s, [this] { pumpOne(); }))
            ADD_FAILURE() << "the message loop never got what it waited for";
        app_.capture.controlWindow.set(nullptr);
    }
    void showErrorBox(std::string_view text) override { steps.push_back("errorBox " + std::string(text)); }
    void exitProcess(int code) override { steps.push_back("exit " + std::to_string(code)); }
    int runFirmwareDialog() override {
        steps.push_back("firmwareDialog");
        FirmwareDialogLogic logic(app_, *this);
        dialog_ = &logic;
        result_.reset();
        logic.init();
        if (userAction)
            userAction(logic);
        EXPECT_TRUE(eventually([this] { return result_.has_value(); }, 10s, [this] { pumpOne(); }))
            << "the dialog never ended";
        dialog_ = nullptr;
        return result_.value_or(-1);
    }
    void endFirmwareDialog() override {
        steps.push_back("endFirmwareDialog");
        ASSERT_NE(dialog_, nullptr);
        dialog_->boardReady();
    }
    void postCloseToControlWindow() override { postMessage(base::WM_CLOSE, 0, 0); }
    void scheduleUpdateCheck() override { steps.push_back("updateCheck"); }
    void shutdownToolkit() override { steps.push_back("shutdownToolkit"); }

    // --- the control window ---
    void postFrame(device::FrameRef) override {} // no consumers here: let go of it at once
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard lk(mutex_);
        queue_.push_back({Clock::now(), message, wParam, lParam});
        cv_.notify_all();
    }

    // --- FirmwareDialogView: the dialog's widgets ---
    void setProgress(int perMille) override {
        postMessage(kProgressMessage, static_cast<uintptr_t>(perMille), 0);
    }
    void postWorkerFinished(int code) override { postMessage(kWorkerDoneMessage, 0, code); }
    void showFailure(const std::string& caption) override { steps.push_back("failure " + caption); }
    void setStartText(const std::string&) override {}
    void setButtonsEnabled(bool) override {}
    void endDialog(int result) override { result_ = result; }

    std::vector<std::string> steps;
    std::vector<int> progressShown;
    std::function<void(FirmwareDialogLogic&)> userAction;
    std::function<void(int)> onProgressShown;
    std::function<bool()> closeWhen;
    // Runs after each arrival was handled, with the open dialog (or null).
    std::function<void(FirmwareDialogLogic*)> afterArrival;
    int arrivalsDeferred = 0;
    int arrivalsHandled = 0;
    int progressShownWhileArrivalWaited = 0;
    bool boardOpenedAgain = false;

  private:
    struct Posted {
        Clock::time_point at;
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    // Handles the next due message, or returns after a short idle wait.
    void pumpOne() {
        std::unique_lock lk(mutex_);
        const auto idleUntil = Clock::now() + 20ms;
        for (;;) {
            auto due = std::min_element(queue_.begin(), queue_.end(),
                                        [](const Posted& a, const Posted& b) { return a.at < b.at; });
            if (due != queue_.end() && due->at <= Clock::now()) {
                const Posted m = *due;
                queue_.erase(due);
                lk.unlock();
                handle(m);
                return;
            }
            if (Clock::now() >= idleUntil)
                return;
            cv_.wait_until(lk, due != queue_.end() ? std::min(due->at, idleUntil) : idleUntil);
        }
    }

    void handle(const Posted& m) {
        switch (m.message) {
        case kProgressMessage:
            progressShown.push_back(static_cast<int>(m.wParam));
            if (arrivalWaiting_)
                ++progressShownWhileArrivalWaited;
            if (onProgressShown)
                onProgressShown(static_cast<int>(m.wParam));
            break;
        case kWorkerDoneMessage:
            ASSERT_NE(dialog_, nullptr);
            dialog_->workerFinished(static_cast<int>(m.lParam));
            break;
        case kArrivalMessage: {
            // The device switch needs the lock. While an update holds it, look again
            // shortly instead of blocking the window until the update ends.
            std::unique_lock lk(app_.capture.appLock, std::try_to_lock);
            if (!lk) {
                ++arrivalsDeferred;
                arrivalWaiting_ = true;
                std::lock_guard q(mutex_);
                queue_.push_back({Clock::now() + 10ms, m.message, m.wParam, m.lParam});
                return;
            }
            arrivalWaiting_ = false;
            ++arrivalsHandled;
            device::switchDevice(app_.capture, &kTavrinInterfaceClass);
            lk.unlock();
            app::offerFirmwareUpdate(app_, *this);
            if (afterArrival)
                afterArrival(dialog_);
            break;
        }
        case base::UM_DEVICE:
            if (m.wParam == 1) {
                steps.push_back("connected");
                boardOpenedAgain = app_.capture.boardDevice.state() == DEVICE_OPEN;
            }
            break;
        case base::WM_CLOSE:
            closed_ = true;
            break;
        default:
            break;
        }
    }

    app::CaptureApp& app_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Posted> queue_;
    bool closed_ = false;
    bool arrivalWaiting_ = false;
    std::optional<int> result_;
    FirmwareDialogLogic* dialog_ = nullptr;
};

sim::SimulatedBoard::Options boardNeedingFirmware() {
    sim::SimulatedBoard::Options o;
    o.framesPerSecond = 60;
    o.version = 1;
    o.updatedVersion = 5;
    o.reconnectDelay = 100ms;
    o.pageWriteTime = 2ms;
    return o;
}

struct FirmwareFlow : ::testing::Test {
    FirmwareFlow() { app.capture.boardDevice.setFirmwareImage(kFakeContainer, &inflater); }
    ~FirmwareFlow() override { board.setArrivalObserver(nullptr); }

    int run() { return app::runProgram(app, platform, folders); }

    DiagnosticCapture diag;
    TempFolders folders;
    sim::SimulatedBoard board{boardNeedingFirmware()};
    NoModifierKeys keys;
    FakeInflater inflater{makeFirmwareTestImage()};
    app::CaptureApp app{board, keys};
    FirmwarePlatform platform{app};
};

} // namespace

TEST_F(FirmwareFlow, UpdateAtStartThenTheBoardReturnsWithTheNewVersionAndOpens) {
    platform.userAction = [](FirmwareDialogLogic& dialog) { dialog.start(); };
    platform.closeWhen = [&] { return platform.boardOpenedAgain; };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(platform.steps,
              (std::vector<std::string>{"initToolkit", "createControlWindow", "firmwareDialog", "messageLoop",
                                        "connected", "shutdownToolkit"}))
        << "the dialog comes before the message loop; no update check in this run";
    ASSERT_FALSE(platform.progressShown.empty());
    EXPECT_EQ(platform.progressShown.back(), 1000);
    EXPECT_EQ(platform.arrivalsHandled, 1);
    EXPECT_NE(diag.text().find("fwVer=5\nTavrin open\n"), std::string::npos);
    EXPECT_EQ(board.pageWrites().size(), 145u);
    EXPECT_TRUE(folders.settingsFileExists());
}

TEST_F(FirmwareFlow, CancelBeforeStartClosesTheProgramWithSettingsSaved) {
    platform.userAction = [](FirmwareDialogLogic& dialog) { dialog.cancel(); };
    EXPECT_EQ(run(), 0); // the loop ends on the WM_CLOSE the cancelled dialog posted
    EXPECT_EQ(platform.steps, (std::vector<std::string>{"initToolkit", "createControlWindow",
                                                        "firmwareDialog", "messageLoop", "shutdownToolkit"}));
    EXPECT_TRUE(folders.settingsFileExists());
    EXPECT_TRUE(board.pageWrites().empty());
}

TEST_F(FirmwareFlow, ArrivalDuringTheUpdateWaitsForTheLockWhileTheWindowKeepsGoing) {
    platform.userAction = [](FirmwareDialogLogic& dialog) { dialog.start(); };
    bool arrivalPosted = false;
    platform.onProgressShown = [&](int perMille) {
        if (!arrivalPosted && perMille > 0 && perMille < 500) {
            arrivalPosted = true; // a board interface announces itself mid-update
            platform.postMessage(kArrivalMessage, 0, 0);
        }
    };
    platform.closeWhen = [&] { return platform.boardOpenedAgain; };
    EXPECT_EQ(run(), 0);
    ASSERT_TRUE(arrivalPosted);
    EXPECT_GT(platform.arrivalsDeferred, 0);
    EXPECT_GT(platform.progressShownWhileArrivalWaited, 0)
        << "progress kept arriving while the arrival waited";
    EXPECT_EQ(platform.progressShown.back(), 1000);
    // The waiting arrival and the board's own return are both handled after the update.
    EXPECT_GE(platform.arrivalsHandled, 1);
    EXPECT_TRUE(platform.boardOpenedAgain);
}

TEST_F(FirmwareFlow, ABoardReplugedWhileTheDialogIsOpenGetsNoSecondDialogAndIsUpdated) {
    // Unplugged and plugged back in before Start; Start once it is back.
    platform.userAction = [&, once = true](FirmwareDialogLogic&) mutable {
        if (std::exchange(once, false))
            board.setPresent(false), board.setPresent(true);
    };
    platform.afterArrival = [started = false](FirmwareDialogLogic* dialog) mutable {
        if (dialog && !std::exchange(started, true))
            dialog->start();
    };
    platform.closeWhen = [&] { return platform.boardOpenedAgain; };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(platform.steps,
              (std::vector<std::string>{"initToolkit", "createControlWindow", "firmwareDialog", "messageLoop",
                                        "connected", "shutdownToolkit"}))
        << "one dialog, no failure";
    EXPECT_EQ(board.pageWrites().size(), 145u);
}
