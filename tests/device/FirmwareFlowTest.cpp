// The firmware update as the program runs it: a board that needs firmware at start-up
// gets the dialog before the message loop; after the update it comes back as a new
// arrival and opens normally. The harness plays the program's main thread: start-up,
// a message loop, the device-arrival handler.
#include "app/CaptureApp.h"
#include "device/FirmwareDialogLogic.h"
#include "device/FirmwareImage.h"
#include "device/ReadThread.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <optional>

using namespace tavrin;
using namespace tavrin::device;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::FakeInflater;
using tavrin::testing::kFakeContainer;
using tavrin::testing::makeFirmwareTestImage;

namespace {

constexpr uint32_t kProgressMessage = app::WM_USER + 100;
constexpr uint32_t kWorkerDoneMessage = app::WM_USER + 101;

class ProgramHarness : public app::MessageTarget, public FirmwareDialogView {
  public:
    using Clock = std::chrono::steady_clock;

    ProgramHarness(sim::SimulatedBoard& board) : app(board, keys) {
        app.boardDevice.setFirmwareImage(kFakeContainer, &inflater);
        // Arrivals reach the control window as posted messages, like the hotplug watcher's.
        board.setArrivalObserver([this] { postMessage(app::WM_DEVICECHANGE, 0, 0); });
    }

    // --- program steps ---
    void startUp() {
        app.controlWindow.set(this);
        app.currentDevice = &app.nullDevice;
        ASSERT_TRUE(usbThread_start(app));
        switchDevice(nullptr);
        if (app.currentDevice.load()->state() == DEVICE_FIRMWARE_REQUIRED) {
            if (firmwareDialog() <= 0)
                postMessage(app::WM_CLOSE, 0, 0);
        } else {
            events.push_back("update check");
        }
    }
    // Runs until WM_CLOSE, or until `closeWhen` holds (the test's way of closing).
    void runMessageLoop(const std::function<bool()>& closeWhen = {}) {
        events.push_back("message loop");
        const auto giveUp = Clock::now() + 10s;
        while (!closed_ && !(closeWhen && closeWhen())) {
            if (Clock::now() > giveUp) {
                ADD_FAILURE() << "the message loop never got what it waited for";
                return;
            }
            pumpOne();
        }
    }
    void shutDown() {
        EXPECT_TRUE(stopReadThread(app, 2000ms));
        {
            std::lock_guard lk(app.appLock);
            app.currentDevice.load()->close();
            app.currentDevice = &app.nullDevice;
        }
        app.controlWindow.set(nullptr);
        events.push_back("settings saved");
    }
    void switchDevice(const InterfaceClassId* filter) {
        std::lock_guard lk(app.appLock);
        app.currentDevice.load()->close();
        app.currentDevice =
            app.boardDevice.open(filter) ? static_cast<UsbDevice*>(&app.boardDevice) : &app.nullDevice;
    }
    int firmwareDialog() {
        FirmwareDialogLogic logic(app, *this);
        dialog_ = &logic;
        result_.reset();
        logic.init();
        events.push_back("firmware dialog");
        if (userAction)
            userAction(logic);
        while (!result_)
            pumpOne();
        dialog_ = nullptr;
        return *result_;
    }

    // --- the control window's message handling ---
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        if (message == app::UM_FRAME) { // no consumers here: let go of it at once
            auto* frame = reinterpret_cast<CaptureFrame*>(lParam);
            frame->refCount = 1;
            releaseFrame(*frame);
            return;
        }
        std::lock_guard lk(mutex_);
        queue_.push_back({Clock::now(), message, wParam, lParam});
        cv_.notify_all();
    }
    // Handles the next due message, or returns after a short idle wait.
    void pumpOne() {
        std::unique_lock lk(mutex_);
        const auto idleUntil = Clock::now() + 20ms;
        const auto giveUp = Clock::now() + 10s;
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
            if (!dialog_ && Clock::now() > idleUntil)
                return;
            if (Clock::now() > giveUp) {
                ADD_FAILURE() << "the dialog never ended";
                result_ = -1;
                return;
            }
            cv_.wait_until(lk, due != queue_.end() ? std::min(due->at, idleUntil) : idleUntil);
        }
    }

    // --- FirmwareDialogView: the dialog's widgets ---
    void setProgress(int perMille) override {
        postMessage(kProgressMessage, static_cast<uintptr_t>(perMille), 0);
    }
    void postWorkerFinished(int code) override { postMessage(kWorkerDoneMessage, 0, code); }
    void showFailure(const std::string& caption) override { events.push_back("failure " + caption); }
    void setStartText(const std::string&) override {}
    void setButtonsEnabled(bool) override {}
    void endDialog(int result) override { result_ = result; }

    NoModifierKeys keys;
    FakeInflater inflater{makeFirmwareTestImage()};
    app::CaptureApp app;
    std::vector<std::string> events;
    std::vector<uintptr_t> deviceNotices;
    std::vector<int> progressShown;
    std::function<void(FirmwareDialogLogic&)> userAction;
    std::function<void(int)> onProgressShown;
    int arrivalsDeferred = 0;
    int progressShownWhileArrivalWaited = 0;
    int arrivalsHandled = 0;

  private:
    struct Posted {
        Clock::time_point at;
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };

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
        case app::WM_DEVICECHANGE: {
            // The device switch needs the lock; while the update holds it, try again
            // shortly instead of blocking the window.
            std::unique_lock lk(app.appLock, std::try_to_lock);
            if (!lk) {
                ++arrivalsDeferred;
                arrivalWaiting_ = true;
                std::lock_guard q(mutex_);
                queue_.push_back({Clock::now() + 10ms, m.message, m.wParam, m.lParam});
                return;
            }
            arrivalWaiting_ = false;
            ++arrivalsHandled;
            switchDevice(&kTavrinInterfaceClass);
            lk.unlock();
            if (app.currentDevice.load()->state() == DEVICE_FIRMWARE_REQUIRED && firmwareDialog() <= 0)
                postMessage(app::WM_CLOSE, 0, 0);
            break;
        }
        case app::UM_DEVICE:
            deviceNotices.push_back(m.wParam);
            if (m.wParam == 1)
                events.push_back("connected");
            break;
        case app::WM_CLOSE:
            closed_ = true;
            break;
        default:
            break;
        }
    }

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
    ~FirmwareFlow() override { board.setArrivalObserver(nullptr); }
    DiagnosticCapture diag;
    sim::SimulatedBoard board{boardNeedingFirmware()};
    ProgramHarness program{board};
};

} // namespace

TEST_F(FirmwareFlow, UpdateAtStartThenTheBoardReturnsWithTheNewVersionAndOpens) {
    program.userAction = [](FirmwareDialogLogic& dialog) { dialog.start(); };
    program.startUp();
    EXPECT_EQ(program.events, (std::vector<std::string>{"firmware dialog"}))
        << "the dialog comes before the message loop; no update check in this run";
    ASSERT_FALSE(program.progressShown.empty());
    EXPECT_EQ(program.progressShown.back(), 1000);
    EXPECT_EQ(program.app.boardDevice.state(), DEVICE_CLOSED);

    program.runMessageLoop(
        [&] { return !program.deviceNotices.empty() && program.deviceNotices.back() == 1; });
    EXPECT_EQ(program.arrivalsHandled, 1);
    EXPECT_EQ(program.app.boardDevice.state(), DEVICE_OPEN);
    EXPECT_EQ(program.app.currentDevice.load(), &program.app.boardDevice);
    EXPECT_NE(diag.text().find("fwVer=5\nTavrin open\n"), std::string::npos);
    EXPECT_EQ(board.pageWrites().size(), 145u);

    // Frames from the updated board reach the window.
    const uint64_t before = board.framesDelivered();
    program.runMessageLoop([&] { return board.framesDelivered() >= before + 3; });
    program.shutDown();
    EXPECT_EQ(program.events, (std::vector<std::string>{"firmware dialog", "message loop", "connected",
                                                        "message loop", "settings saved"}));
}

TEST_F(FirmwareFlow, CancelBeforeStartClosesTheProgramWithSettingsSaved) {
    program.userAction = [](FirmwareDialogLogic& dialog) { dialog.cancel(); };
    program.startUp();
    program.runMessageLoop(); // ends on the WM_CLOSE the cancelled dialog posted
    program.shutDown();
    EXPECT_EQ(program.events,
              (std::vector<std::string>{"firmware dialog", "message loop", "settings saved"}));
    EXPECT_TRUE(board.pageWrites().empty());
}

TEST_F(FirmwareFlow, ArrivalDuringTheUpdateWaitsForTheLockWhileTheWindowKeepsGoing) {
    program.userAction = [](FirmwareDialogLogic& dialog) { dialog.start(); };
    bool arrivalPosted = false;
    program.onProgressShown = [&](int perMille) {
        if (!arrivalPosted && perMille > 0 && perMille < 500) {
            arrivalPosted = true; // another board interface announces itself mid-update
            program.postMessage(app::WM_DEVICECHANGE, 0, 0);
        }
    };
    program.startUp();
    ASSERT_TRUE(arrivalPosted);
    EXPECT_GT(program.arrivalsDeferred, 0);
    EXPECT_GT(program.progressShownWhileArrivalWaited, 0)
        << "progress kept arriving while the arrival waited";
    EXPECT_EQ(program.progressShown.back(), 1000);

    // The waiting arrival and the board's own return are both handled after the update.
    program.runMessageLoop([&] { return program.app.boardDevice.state() == DEVICE_OPEN; });
    EXPECT_GE(program.arrivalsHandled, 1);
    EXPECT_EQ(program.app.currentDevice.load(), &program.app.boardDevice);
    program.shutDown();
}
