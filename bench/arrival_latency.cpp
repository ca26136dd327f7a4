// SPDX-License-Identifier: GPL-2.0-or-later
// How long a board arrival waits for the application lock while the read thread
// streams the simulated board at 60 frames a second: from the arrival message to
// the device switch done, with the control window's 10 ms retries run as its
// timer would run them.
#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "app/Lifecycle.h"
#include "device/DeviceArrival.h"
#include "device/ReadThread.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeControlWindowParts.h"
#include "platform/sim/SimulatedBoard.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace tavrin;
using namespace tavrin::testing::controlwindow;
using Clock = std::chrono::steady_clock;

void BM_ArrivalWhileStreaming(benchmark::State& state) {
    tavrin::testing::DiagnosticCapture quiet;
    sim::SimulatedBoard board; // 60 frames a second
    device::NoModifierKeys keys;
    tavrin::testing::FakeControlWindow window; // takes the frames and gives them back
    app::CaptureApp app(board, keys);
    app.capture.currentDevice = &app.capture.nullDevice;
    app.capture.controlWindow.set(&window);
    Log log;
    FakeView view(log);
    FakeDisplayManager displays(log, app.settings);
    FakeRecording recorder(log);
    app::ControlWindowLogic::Services services{view, displays, recorder, nullptr};
    bool switched = false;
    services.offerFirmwareUpdate = [&] { return switched = true; };
    app::ControlWindowLogic logic(app, std::move(services));
    device::switchDevice(app.capture, nullptr);
    device::usbThread_start(app.capture);
    window.waitForFrames(10, std::chrono::seconds(5));

    double worstMs = 0;
    std::size_t retries = 0;
    int failed = 0;
    for (auto _ : state) {
        // Arrivals fall anywhere within a frame.
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + 997 * (state.iterations() % 17)));
        switched = false;
        view.retries.clear();
        const auto start = Clock::now();
        logic.deviceArrived(device::kBoardArrival);
        for (std::size_t i = 0; !switched && i < view.retries.size() && i < 1000; ++i) {
            std::this_thread::sleep_for(view.retryDelay);
            view.retries[i]();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        worstMs = std::max(worstMs, seconds * 1000);
        retries += view.retries.size();
        failed += switched ? 0 : 1;
    }
    device::usbThread_stop(app.capture, std::chrono::seconds(2));
    app.capture.controlWindow.set(nullptr);
    state.counters["worst_ms"] = worstMs;
    state.counters["retries_per_arrival"] =
        static_cast<double>(retries) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["not_switched"] = failed;
    state.counters["frames_ok"] = app.capture.okCount.load();
}
BENCHMARK(BM_ArrivalWhileStreaming)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace
