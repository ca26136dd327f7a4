// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "device/ReadThread.h"
#include "display/HeldFrame.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeControlWindowParts.h"
#include "fakes/FakeScreenshotPorts.h"
#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/MediaSample.h"
#include "record/ReferenceClock.h"
#include "record/TavrinFilter.h"
#include "screenshot/Screenshots.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

using namespace tavrin;
using namespace std::chrono_literals;

namespace {

// The control window's queue: frames wait here until the test's "loop" takes them.
class QueueWindow final : public device::FrameSink {
  public:
    void postMessage(uint32_t, uintptr_t, intptr_t) override {}
    void postFrame(device::FrameRef frame) override {
        std::lock_guard lk(mutex_);
        frames_.push_back(std::move(frame));
        cv_.notify_one();
    }
    device::FrameRef next() {
        std::unique_lock lk(mutex_);
        if (!cv_.wait_for(lk, 5s, [&] { return !frames_.empty(); }))
            return {};
        device::FrameRef frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }
    void clear() {
        std::deque<device::FrameRef> gone;
        std::lock_guard lk(mutex_);
        gone.swap(frames_);
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<device::FrameRef> frames_;
};

class HeldDisplays final : public display::DisplayManager {
  public:
    void applyDisplayMode(int, bool) override {}
    void destroyDisplayWindows() override {
        main.clear();
        bottom.clear();
    }
    struct Target final : display::DisplayTarget {
        void present(device::FrameRef frame) override { held.present(std::move(frame)); }
        void clear() { held.clear(); }
        display::HeldFrame held;
    };
    display::DisplayTarget* mainDisplay() override { return &main; }
    display::DisplayTarget* bottomDisplay() override { return &bottom; }
    void applyTopmost() override {}
    void focusMainDisplay() override {}
    Target main, bottom;
};

class PinRecording final : public record::RecordingControl {
  public:
    explicit PinRecording(record::TavrinFilter& filter) : filter_(filter) {}
    bool startRecording(const std::string&) override { return true; }
    void stopRecording() override {}
    std::string updateRecordingStatus() override { return "Stopped."; }
    record::ITavrinCaptureApp* recorderApp() override { return &filter_; }

  private:
    record::TavrinFilter& filter_;
};

} // namespace

// The frames' whole round, with the real holders: the read thread on the simulated
// board posts them; the control window hands each to the recording pin, now and then
// to a screenshot, and to both display windows; the pin copies them into samples
// and the screenshot workers save them. Afterwards all twelve are back, once each.
TEST(FrameHolders, EveryFrameComesBackOnceAfterARunThroughEveryHolder) {
    tavrin::testing::DiagnosticCapture quiet;
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    sim::SimulatedBoard board(options);
    device::NoModifierKeys keys;
    app::CaptureApp program(board, keys); // outlives every holder below
    program.capture.currentDevice = &program.capture.nullDevice;
    tavrin::testing::TempDir dir;
    program.settings.outputFolder.assign(dir.folder());
    {
        auto clock = std::make_shared<record::ManualReferenceClock>();
        auto filterBase = record::TavrinFilter::CreateInstance(30);
        auto* filter = dynamic_cast<record::TavrinFilter*>(filterBase.get());
        ASSERT_NE(filter, nullptr);
        filter->SetSyncSource(clock);
        ASSERT_EQ(filter->setArea(256, 192, 0), record::S_OK);
        ASSERT_EQ(filter->Run(0), record::S_OK);
        filter->pin->OnThreadStartPlay();
        std::vector<uint8_t> buffer(256 * 192 * 3);
        record::MediaSample sample(nullptr, buffer.data(), static_cast<int32_t>(buffer.size()));

        tavrin::testing::TempFolders folders;
        tavrin::testing::FakeStatusLine status;
        tavrin::testing::FakeFolderChooser chooser;
        tavrin::testing::FakePngEncoder encoder;
        screenshot::Screenshots shots(program.settings, folders, program.pngCounter, program.aviCounter,
                                      status, chooser, encoder);
        tavrin::testing::controlwindow::Log log;
        tavrin::testing::controlwindow::FakeView view(log);
        HeldDisplays displays;
        PinRecording recording(*filter);
        app::ControlWindowLogic logic(program, {view, displays, recording, &shots});

        QueueWindow window;
        program.capture.controlWindow.set(&window);
        device::switchDevice(program.capture, nullptr);
        ASSERT_TRUE(device::usbThread_start(program.capture));
        int samples = 0;
        for (int i = 0; i < 240; ++i) {
            device::FrameRef frame = window.next();
            ASSERT_TRUE(frame) << "the pool ran dry at frame " << i;
            clock->advance(filter->pin->frameInterval()); // one grid slot a frame: every frame is recorded
            if (i % 20 == 0)
                logic.command(app::IDC_SCREENSHOT);
            logic.handleFrame(std::move(frame));
            while (filter->pin->queuedCount() > 0 && filter->pin->FillBuffer(&sample) == record::S_OK)
                ++samples;
        }
        EXPECT_TRUE(device::usbThread_stop(program.capture, 2s));
        program.capture.controlWindow.set(nullptr);
        window.clear();
        ASSERT_TRUE(shots.waitForWorkers(10s));
        EXPECT_EQ(samples, 240);
        EXPECT_EQ(encoder.calls().size(), 12u);
        EXPECT_EQ(program.capture.framePool.queue().count(), device::FramePool::kFrameCount - 1)
            << "only the newest frame is held, by both windows";

        logic.handleMessage(base::WM_CLOSE, 0, 0);
        EXPECT_EQ(program.capture.framePool.queue().count(), device::FramePool::kFrameCount)
            << "closing lets go of the windows' frame";
    }
    std::set<device::CaptureFrame*> home;
    for (int i = 0; i < device::FramePool::kFrameCount; ++i) {
        device::CaptureFrame* frame = program.capture.framePool.queue().pop(0ms);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->refCount, 0);
        home.insert(frame);
    }
    EXPECT_EQ(home.size(), 12u) << "no frame came back twice";
}
