// SPDX-License-Identifier: GPL-2.0-or-later
// Heap allocations per frame on the picture path, next to the time per frame: the
// read thread on the simulated board (unpaced), the post to the control window
// through Qt's event queue, the control window's dispatch (conversion, the
// recording pin with a manual clock, two display windows' held frames) and the
// pin's copy of every frame into a sample. The display windows' repaint request
// and paint need a window system: see display_repaint_allocs.cpp.
#include "AllocationCounter.h"

#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "base/Diagnostics.h"
#include "device/ReadThread.h"
#include "display/DisplayTarget.h"
#include "display/HeldFrame.h"
#include "fakes/FakeControlWindowParts.h"
#include "platform/qt/PostedFrameEvent.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/MediaSample.h"
#include "record/ReferenceClock.h"
#include "record/TavrinFilter.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace tavrin;
using tavrin::bench::InRegion;

namespace {

// A display window as far as frames go.
class HeldTarget final : public display::DisplayTarget {
  public:
    void present(device::FrameRef frame) override { held.present(std::move(frame)); }
    display::HeldFrame held;
};

// The split layout: both windows take every frame.
class TwoWindows final : public display::DisplayManager {
  public:
    void applyDisplayMode(int, bool) override {}
    void destroyDisplayWindows() override {}
    display::DisplayTarget* mainDisplay() override { return &main_; }
    display::DisplayTarget* bottomDisplay() override { return &bottom_; }
    void applyTopmost() override {}
    void focusMainDisplay() override {}

  private:
    HeldTarget main_;
    HeldTarget bottom_;
};

// A recording whose source is the real filter, run by hand on the main thread.
class PinRecording final : public record::RecordingControl {
  public:
    explicit PinRecording(record::TavrinFilter& filter) : filter_(filter) {}
    bool startRecording(const std::string&) override { return true; }
    void stopRecording() override {}
    std::string updateRecordingStatus() override { return {}; }
    record::ITavrinCaptureApp* recorderApp() override { return &filter_; }

  private:
    record::TavrinFilter& filter_;
};

// The simulated board stands in for the USB stack and keeps a log of every request
// for the tests: its allocations are its own, counted apart.
class MarkedConnection final : public device::UsbConnection {
  public:
    explicit MarkedConnection(std::unique_ptr<device::UsbConnection> inner) : inner_(std::move(inner)) {}
    bool setPipeTimeout(uint8_t pipe, uint32_t ms) override {
        InRegion board(bench::kBoard);
        return inner_->setPipeTimeout(pipe, ms);
    }
    bool setRawIo(uint8_t pipe, bool on) override {
        InRegion board(bench::kBoard);
        return inner_->setRawIo(pipe, on);
    }
    device::TransferResult controlTransfer(const device::UsbSetup& setup, uint8_t* data) override {
        InRegion board(bench::kBoard);
        return inner_->controlTransfer(setup, data);
    }
    device::TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        InRegion board(bench::kBoard);
        return inner_->readPipe(pipe, buffer, length);
    }
    bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        InRegion board(bench::kBoard);
        return inner_->startAsyncRead(pipe, buffer, length);
    }
    bool asyncReadPending(uint8_t pipe) override {
        InRegion board(bench::kBoard);
        return inner_->asyncReadPending(pipe);
    }

  private:
    std::unique_ptr<device::UsbConnection> inner_;
};

class MarkedTransport final : public device::UsbTransport {
  public:
    explicit MarkedTransport(device::UsbTransport& inner) : inner_(inner) {}
    std::vector<std::string> listInterfaces() override { return inner_.listInterfaces(); }
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override {
        std::unique_ptr<device::UsbConnection> connection = inner_.open(path);
        if (!connection)
            return nullptr;
        return std::make_unique<MarkedConnection>(std::move(connection));
    }
    device::OpenFailure lastOpenFailure() const override { return inner_.lastOpenFailure(); }

  private:
    device::UsbTransport& inner_;
};

// The control window as the read thread sees it: the real Qt target, with the
// calling thread's region marked around Qt's part.
class MarkedTarget final : public device::FrameSink {
  public:
    explicit MarkedTarget(qt::QtMessageTarget& target) : target_(target) {}
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        target_.postMessage(message, wParam, lParam);
    }
    void postFrame(device::FrameRef frame) override {
        {
            InRegion inQt(bench::kQtPost);
            target_.postFrame(std::move(frame));
        }
        // Only the read thread posts frames: the rest of its loop is the project's.
        bench::tRegion = bench::kProject;
    }

  private:
    qt::QtMessageTarget& target_;
};

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "picture_path_allocs";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv); // one per process, for every run
    return *app;
}

void BM_PicturePath(benchmark::State& state) {
    if (!bench::countingWorks()) {
        state.SkipWithError("allocations are not counted in a sanitizer build");
        return;
    }
    application();
    base::setDiagnosticsToStdout(false);

    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0; // as fast as the path takes them
    sim::SimulatedBoard board(options);
    MarkedTransport transport(board);
    device::NoModifierKeys keys;
    app::CaptureApp program(transport, keys); // outlives every holder below
    program.capture.currentDevice = &program.capture.nullDevice;
    program.settings.displayMode = device::kDualScreenLayout;

    // The recording source, stepped one grid slot a frame so that it keeps every frame.
    auto clock = std::make_shared<record::ManualReferenceClock>();
    auto filterBase = record::TavrinFilter::CreateInstance(30);
    auto* filter = dynamic_cast<record::TavrinFilter*>(filterBase.get());
    filter->SetSyncSource(clock);
    filter->setArea(256, 192, 0);
    filter->Run(0);
    filter->pin->OnThreadStartPlay();
    const record::REFERENCE_TIME interval = filter->pin->frameInterval();
    std::vector<uint8_t> sampleBuffer(256 * 192 * 3);
    record::MediaSample sample(nullptr, sampleBuffer.data(), static_cast<int32_t>(sampleBuffer.size()));

    tavrin::testing::controlwindow::Log log;
    tavrin::testing::controlwindow::FakeView view(log);
    TwoWindows displays;
    PinRecording recording(*filter);
    app::ControlWindowLogic logic(program, {view, displays, recording, nullptr});

    uint64_t handled = 0;
    uint64_t samples = 0;
    qt::QtMessageTarget target;
    target.setFrameHandler([&](device::FrameRef frame) {
        InRegion project(bench::kProject);
        clock->advance(interval);
        logic.handleFrame(std::move(frame));
        // The streaming thread's part, here on the main thread: copy into a sample.
        while (filter->pin->queuedCount() > 0 && filter->pin->FillBuffer(&sample) == record::S_OK)
            ++samples;
        ++handled;
    });
    MarkedTarget marked(target);
    program.capture.controlWindow.set(&marked);
    device::switchDevice(program.capture, nullptr);
    if (!device::usbThread_start(program.capture)) {
        state.SkipWithError("the read thread did not start");
        return;
    }

    auto runUntil = [&](uint64_t frames) {
        InRegion loop(bench::kQtLoop);
        while (handled < frames)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    };
    // Every frame of the pool converted once (its image is made on first use).
    runUntil(4 * device::FramePool::kFrameCount);

    std::array<uint64_t, bench::kRegionCount> before{};
    for (int r = 0; r < bench::kRegionCount; ++r)
        before[static_cast<std::size_t>(r)] = bench::allocations(r);
    const std::size_t heapEventsBefore = qt::PostedFrameEvent::heapEvents();
    const uint64_t firstFrame = handled;
    const uint64_t firstSample = samples;
    const auto start = std::chrono::steady_clock::now();
    bench::gCounting.store(true);
    for (auto _ : state)
        runUntil(handled + 1);
    bench::gCounting.store(false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    device::usbThread_stop(program.capture, std::chrono::seconds(2));
    program.capture.controlWindow.set(nullptr);

    const auto frames = static_cast<double>(handled - firstFrame);
    auto perFrame = [&](int region) {
        return static_cast<double>(bench::allocations(region) - before[static_cast<std::size_t>(region)]) /
               frames;
    };
    state.counters["frames"] = frames;
    state.counters["us_per_frame"] = seconds * 1e6 / frames;
    state.counters["project_allocs_per_frame"] = perFrame(bench::kProject);
    state.counters["qt_post_allocs_per_frame"] = perFrame(bench::kQtPost);
    state.counters["qt_loop_allocs_per_frame"] = perFrame(bench::kQtLoop);
    state.counters["sim_board_allocs_per_frame"] = perFrame(bench::kBoard);
    state.counters["other_allocs"] =
        static_cast<double>(bench::allocations(bench::kOther) - before[bench::kOther]);
    state.counters["frame_events_from_heap"] =
        static_cast<double>(qt::PostedFrameEvent::heapEvents() - heapEventsBefore);
    state.counters["samples_per_frame"] = static_cast<double>(samples - firstSample) / frames;
}
BENCHMARK(BM_PicturePath)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
