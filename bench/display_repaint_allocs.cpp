// SPDX-License-Identifier: GPL-2.0-or-later
// Heap allocations per frame of a display window, next to the time per frame:
// present() with its repaint request (the project's part) and the paint Qt runs
// for it (Qt's own), counted apart. The second case adds the QWidget::update()
// that the window used to call for every frame, to show what that costs. Needs a
// window system; Xvfb will do: (cd build && bash ../scripts/test-env.sh bench/display_repaint_allocs)
#include "AllocationCounter.h"

#include "base/Diagnostics.h"
#include "base/Messages.h"
#include "base/Settings.h"
#include "device/FrameQueue.h"
#include "display/FrameConversion.h"
#include "platform/qt_display/DisplayWindow.h"
#include "platform/qt_display/QtDisplayManager.h"
#include "platform/sim/SimulatedBoard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <utility>

using namespace tavrin;
using tavrin::bench::InRegion;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "display_repaint_allocs";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv); // one per process, for every run
    return *app;
}

void BM_DisplayRepaint(benchmark::State& state, bool alsoQtUpdate) {
    if (!bench::countingWorks()) {
        state.SkipWithError("allocations are not counted in a sanitizer build");
        return;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        state.SkipWithError("needs a window system (run it under scripts/test-env.sh)");
        return;
    }
    application();
    base::setDiagnosticsToStdout(false);

    device::FramePool pool; // outlives the windows that hold its frames
    if (!pool.setup()) {
        state.SkipWithError("no frames");
        return;
    }
    base::Settings settings;
    base::MessageLink link;
    qt_display::QtDisplayManager displays(settings, link);
    displays.applyDisplayMode(device::kDualScreenLayout, false);
    qt_display::DisplayWindow* window = displays.mainWindow();
    if (!window) {
        state.SkipWithError("no display window");
        return;
    }
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    uint64_t picture = 0;
    auto nextFrame = [&] {
        // The read thread's and the control window's part, measured in picture_path_allocs.
        device::FrameRef frame = pool.take(std::chrono::milliseconds(0));
        if (frame) {
            sim::SimulatedBoard::renderPicture(picture++, frame->data.get());
            display::convertFrame(*frame, device::kDualScreenLayout);
        }
        return frame;
    };
    auto showOne = [&] {
        device::FrameRef frame = nextFrame();
        {
            InRegion project(bench::kProject);
            displays.mainDisplay()->present(std::move(frame));
        }
        if (alsoQtUpdate) {
            InRegion inQt(bench::kQtPost);
            window->update();
        }
        InRegion loop(bench::kQtLoop);
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 2 * device::FramePool::kFrameCount; ++i)
        showOne(); // every image made once

    uint64_t before[bench::kRegionCount];
    for (int r = 0; r < bench::kRegionCount; ++r)
        before[r] = bench::allocations(r);
    const auto start = std::chrono::steady_clock::now();
    bench::gCounting.store(true);
    for (auto _ : state)
        showOne();
    bench::gCounting.store(false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    displays.destroyDisplayWindows();

    const auto frames = static_cast<double>(state.iterations());
    auto perFrame = [&](int region) {
        return static_cast<double>(bench::allocations(region) - before[region]) / frames;
    };
    state.counters["us_per_frame"] = seconds * 1e6 / frames;
    state.counters["project_allocs_per_frame"] = perFrame(bench::kProject);
    state.counters["qt_update_allocs_per_frame"] = perFrame(bench::kQtPost);
    state.counters["qt_paint_allocs_per_frame"] = perFrame(bench::kQtLoop);
}
BENCHMARK_CAPTURE(BM_DisplayRepaint, present, false)->Iterations(600)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DisplayRepaint, present_and_qt_update, true)
    ->Iterations(600)
    ->Unit(benchmark::kMicrosecond);

} // namespace
