// SPDX-License-Identifier: GPL-2.0-or-later
// What a screenshot costs the control window's thread (allocation, reference,
// name probe) and what its worker does before encoding (BGR0 to RGB copy).
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "screenshot/Screenshots.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace tavrin;

struct Folders : base::UserFolders {
    std::string configFolder() override { return {}; }
    std::string desktopFolder() override { return {}; }
    bool setCurrentDirectory(const std::string&) override { return false; }
};
struct NoStatus : base::StatusLine {
    void setStatusText(const std::string&) override {}
};
struct NoChooser : screenshot::FolderChooser {
    std::string chooseFolder(const std::string&, const std::string&) override { return {}; }
};
// Fails at once, so nothing is encoded or written: only our own work is timed.
struct NoEncoder : screenshot::PngEncoder {
    unsigned encodeRgb(const uint8_t*, unsigned, unsigned, std::vector<uint8_t>&) override { return 1; }
};

struct Setup {
    std::string dir;
    base::Settings settings;
    Folders folders;
    uint32_t png = 0, avi = 0;
    NoStatus status;
    NoChooser chooser;
    NoEncoder encoder;
    device::FramePool pool;
    device::FrameRef frame;
    std::vector<std::function<void()>> held;

    Setup() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-bench.XXXXXX").string();
        dir = ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
        settings.outputFolder.assign(dir + "/");
        pool.setup();
        frame = pool.take(std::chrono::milliseconds(0));
        frame->layout = device::screenLayouts[device::kDualScreenLayout];
        frame->image.assign(std::size_t(frame->layout.width) * frame->layout.height * 4, 0x5A);
    }
    ~Setup() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    screenshot::WorkerStarter starter() {
        return [this](std::function<void()> body) {
            held.push_back(std::move(body));
            return true;
        };
    }
};

void BM_startScreenshot(benchmark::State& state) {
    Setup s;
    screenshot::Screenshots shots(s.settings, s.folders, s.png, s.avi, s.status, s.chooser, s.encoder,
                                  s.starter());
    for (auto _ : state) {
        shots.startScreenshot(s.frame);
        state.PauseTiming();
        for (auto& body : s.held)
            body();
        s.held.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_startScreenshot);

void BM_screenshotWorkerCopy(benchmark::State& state) {
    Setup s;
    screenshot::Screenshots shots(s.settings, s.folders, s.png, s.avi, s.status, s.chooser, s.encoder,
                                  s.starter());
    for (auto _ : state) {
        state.PauseTiming();
        shots.startScreenshot(s.frame);
        state.ResumeTiming();
        for (auto& body : s.held)
            body();
        s.held.clear();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.frame->image.size()));
}
BENCHMARK(BM_screenshotWorkerCopy);

} // namespace
