// SPDX-License-Identifier: GPL-2.0-or-later
// Every thread the core starts carries its name, and there is no other.
#include "fakes/ThreadNames.h"
#include "app/CaptureApp.h"
#include "app/DebugConsole.h"
#include "app/FirmwareDialogLogic.h"
#include "base/Diagnostics.h"
#include "device/ReadThread.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeFirmwareDialogView.h"
#include "fakes/FakeScreenshotPorts.h"
#include "fakes/FakeUpdatePorts.h"
#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"
#include "platform/sim/SimulatedBoard.h"
#include "screenshot/Screenshots.h"
#include "update/UpdateCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>

using namespace tavrin;
using namespace std::chrono_literals;
namespace tt = tavrin::testing;

TEST(ThreadNames, EveryThreadOfTheCoreIsNamedAndNoneIsUnnamed) {
#ifndef __linux__
    GTEST_SKIP() << "thread names are read from /proc (Linux)";
#else
    std::string mainName;
    std::getline(std::ifstream("/proc/self/comm"), mainName);

    // A line that waits in standard output's buffer starts the log flusher.
    base::setStdoutLogFilter(base::LogFilter());
    base::appLog.info("thread names: a line for the flusher\n");
    tt::DiagnosticCapture quiet;

    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    sim::SimulatedBoard board(options);
    board.setPresent(false);
    board.setPresent(true); // the board's own thread announces the arrival
    device::NoModifierKeys keys;
    app::CaptureApp program(board, keys);
    program.capture.currentDevice = &program.capture.nullDevice;
    ASSERT_TRUE(device::usbThread_start(program.capture));
    ASSERT_TRUE(app::startStatsThread(program));

    // A screenshot held in its encoding.
    std::promise<void> encoding;
    std::promise<void> finishEncoding;
    std::shared_future<void> finish = finishEncoding.get_future().share();
    tt::FakePngEncoder encoder;
    encoder.during = [&] {
        encoding.set_value();
        finish.wait();
    };
    tt::TempDir dir;
    tt::TempFolders folders;
    tt::FakeStatusLine status;
    tt::FakeFolderChooser chooser;
    base::Settings settings;
    settings.outputFolder.assign(dir.folder());
    uint32_t pngCounter = 0;
    uint32_t aviCounter = 0;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    screenshot::Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    {
        device::FrameRef frame = pool.take(0ms);
        frame->layout = device::screenLayouts[device::kDualScreenLayout];
        frame->image.assign(std::size_t(frame->layout.width) * frame->layout.height * 4, 0);
        shots.startScreenshot(frame);
    }
    ASSERT_EQ(encoding.get_future().wait_for(10s), std::future_status::ready);

    // An update check waiting for its answer.
    tt::FakeHttpGet http;
    http.blockInSend = true;
    tt::FakeUpdatePrompt prompt;
    update::UpdateCheck check(dir.folder() + "key/", http, prompt, [] { return uint32_t{18000000}; });
    check.scheduleUpdateCheck();
    ASSERT_TRUE(tt::eventually([&] { return http.steps().size() >= 4; }));

    // A firmware worker waiting for the application lock.
    tt::FakeFirmwareDialogView view;
    app::FirmwareDialogLogic firmware(program, view);
    std::unique_lock held(program.capture.appLock);
    firmware.start();
    ASSERT_TRUE(firmware.running());

    std::vector<std::string> expected = {mainName,        "tavrin-read",     "tavrin-stats", "tavrin-shot",
                                         "tavrin-update", "tavrin-firmware", "tavrin-log",   "tavrin-sim"};
#if defined(__SANITIZE_THREAD__)
    expected.push_back(mainName); // ThreadSanitizer's own background thread
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    expected.push_back(mainName);
#endif
#endif
    // A thread names itself as it starts.
    const auto allNamed = ::testing::UnorderedElementsAreArray(expected);
    tt::eventually([&] { return ::testing::Matches(allNamed)(tt::threadNames()); });
    EXPECT_THAT(tt::threadNames(), allNamed);

    held.unlock();
    const auto code = view.waitFinished(10s);
    ASSERT_TRUE(code.has_value());
    firmware.workerFinished(*code);
    finishEncoding.set_value();
    ASSERT_TRUE(shots.waitForWorkers(10s));
#endif
}
