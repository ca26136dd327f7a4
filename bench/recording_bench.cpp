// SPDX-License-Identifier: GPL-2.0-or-later
// Records the simulated board's picture with each offered compressor and reports
// how fast the recording graph runs: as a multiple of real time at 60 frames a
// second, CPU time per frame (all threads), and megabytes per minute of recording.
#include "base/Diagnostics.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "display/FrameConversion.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/Recorder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tavrin;

namespace {

constexpr int kFrames = 240;   // four seconds at 60 frames a second
constexpr int kRecordFps = 60; // every board frame is recorded
constexpr record::REFERENCE_TIME kInterval = 166666;

// The board's picture `n`, converted as the control window converts every frame.
void paint(device::CaptureFrame& frame, uint64_t n) {
    sim::SimulatedBoard::renderPicture(n, frame.data.get());
    display::convertFrame(frame, device::kDualScreenLayout);
}

void BM_Record(benchmark::State& state, const media::EncoderInfo* info) {
    base::setDiagnosticsToStdout(false);
    device::FramePool pool;
    pool.setup();
    // Twelve different pictures, one per frame of the pool, painted once.
    for (int i = 0; i < device::FramePool::kFrameCount; ++i)
        paint(pool.frame(i), static_cast<uint64_t>(i) * 7);

    char folder[] = "/tmp/tavrin-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    base::Settings settings;
    settings.outputFolder.assign(std::string(folder) + "/");
    settings.videoCodec.assign(info->friendlyName);
    settings.recordFps = kRecordFps;
    settings.audioSource.assign("(no sound)");
    media::FfmpegPlatform platform;
    // The graph's clock moves with the frames, so the encoder runs flat out.
    auto clock = std::make_shared<record::ManualReferenceClock>();
    record::Recorder recorder(platform, settings, nullptr, clock);

    double bytes = 0;
    double wall = 0;
    double cpu = 0;
    auto cpuNow = [] {
        timespec ts{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    };
    for (auto _ : state) {
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = cpuNow();
        clock->set(0);
        if (!recorder.startRecording("bench.avi")) {
            state.SkipWithError("the recording did not start");
            break;
        }
        for (int n = 0; n < kFrames; ++n) {
            const device::FrameRef frame = pool.take(std::chrono::seconds(5));
            if (!frame)
                break;
            clock->set((n + 1) * kInterval + 1);
            recorder.recorderApp()->putFrame(frame);
        }
        recorder.stopRecording();
        cpu += cpuNow() - cpuStart;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        struct stat st {};
        ::stat((settings.outputFolder.utf8() + "bench.avi").c_str(), &st);
        bytes += static_cast<double>(st.st_size);
        ::unlink((settings.outputFolder.utf8() + "bench.avi").c_str());
    }
    ::rmdir(folder);

    const double runs = static_cast<double>(state.iterations());
    const double seconds = static_cast<double>(kFrames) / kRecordFps; // of recording, per run
    if (wall > 0)
        state.counters["x_realtime"] = seconds * runs / wall;
    state.counters["cpu_ms_per_frame"] = cpu * 1000.0 / (runs * kFrames);
    state.counters["MB_per_min"] = bytes / runs / seconds * 60.0 / (1024.0 * 1024.0);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

// One benchmark per compressor that this libavcodec offers. CPU time covers every
// thread of the process (the streaming thread does the encoding); x_realtime is
// recorded time over wall time, so 1.0 just keeps up with the board.
const int registered = [] {
    for (const media::EncoderInfo* info : media::availableEncoders())
        benchmark::RegisterBenchmark(("Record/" + info->friendlyName).c_str(), BM_Record, info)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime()
            ->Iterations(3);
    return 0;
}();

} // namespace
