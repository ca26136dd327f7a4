// SPDX-License-Identifier: GPL-2.0-or-later
// The camera at the board's pace, read by a PipeWire consumer in this process:
// what handing a frame to the camera costs the GUI thread, and how long a frame
// takes from that hand-over to the consumer's process callback. Needs a PipeWire
// daemon: (cd build && bash ../scripts/test-env.sh bench/camera_handoff).
#include "device/FrameQueue.h"
#include "display/CameraPicture.h"
#include "display/FrameConversion.h"
#include "fakes/FakeControlWindow.h"
#include "platform/pipewire/PipeWireCamera.h"
#include "platform/sim/SimulatedBoard.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using namespace tavrin;
using Clock = std::chrono::steady_clock;

int64_t monotonicNanoseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A consumer like a video call's: takes every buffer and notes when it came
// against the hand-over time the camera stamps in its header.
class Reader {
  public:
    Reader(const char* target, spa_video_format format) {
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("bench-reader", nullptr);
        events_.version = PW_VERSION_STREAM_EVENTS;
        events_.process = &Reader::onProcess;
        events_.param_changed = &Reader::onParamChanged;
        pw_thread_loop_lock(loop_);
        pw_thread_loop_start(loop_);
        pw_properties* props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                              "Camera", PW_KEY_TARGET_OBJECT, target, nullptr);
        stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), "bench-reader", props, &events_, this);
        uint8_t buffer[1024];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        const display::CameraCanvas canvas = display::cameraCanvas({});
        spa_rectangle size{static_cast<uint32_t>(canvas.width), static_cast<uint32_t>(canvas.height)};
        spa_fraction rate{display::kCameraFramesPerSecond, 1};
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
            SPA_FORMAT_VIDEO_format, SPA_POD_Id(format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)))};
        pw_stream_connect(
            stream_, PW_DIRECTION_INPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        pw_thread_loop_unlock(loop_);
    }
    ~Reader() {
        pw_thread_loop_lock(loop_);
        pw_stream_destroy(stream_);
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
        pw_thread_loop_destroy(loop_);
    }

    std::vector<double> latenciesMs() {
        std::lock_guard lk(mutex_);
        return latencies_;
    }
    uint64_t received() const { return received_.load(); }

  private:
    // The header with the camera's time stamp is there only when both sides ask for it.
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
        if (id != SPA_PARAM_Format || !param)
            return;
        uint8_t buffer[256];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))))};
        pw_stream_update_params(static_cast<Reader*>(data)->stream_, params, 1);
    }

    static void onProcess(void* data) {
        auto* self = static_cast<Reader*>(data);
        while (pw_buffer* b = pw_stream_dequeue_buffer(self->stream_)) {
            const int64_t now = monotonicNanoseconds();
            if (auto* h = static_cast<spa_meta_header*>(
                    spa_buffer_find_meta_data(b->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
                std::lock_guard lk(self->mutex_);
                self->latencies_.push_back(static_cast<double>(now - h->pts) / 1e6);
            }
            self->received_.fetch_add(1);
            pw_stream_queue_buffer(self->stream_, b);
        }
    }

    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    pw_stream_events events_{};
    std::mutex mutex_;
    std::vector<double> latencies_;
    std::atomic<uint64_t> received_{0};
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// One iteration is one frame at 60 frames a second; its time is the GUI thread's hand-over.
// reader: 0 none, 1 reading BGRx (the picture as composed), 2 reading I420 (converted on
// the camera's thread).
void BM_CameraHandOffAtSixtyFramesASecond(benchmark::State& state) {
    const bool withReader = state.range(0) != 0;
    const spa_video_format format = state.range(0) == 2 ? SPA_VIDEO_FORMAT_I420 : SPA_VIDEO_FORMAT_BGRx;
    tavrin::testing::DiagnosticCapture quiet;
    device::FramePool pool;
    pool.setup();
    // The board's pictures, converted once: the benchmark measures the camera, not the conversion.
    for (int i = 0; i < device::FramePool::kFrameCount; ++i) {
        device::CaptureFrame& f = pool.frame(i);
        sim::SimulatedBoard::renderPicture(static_cast<uint64_t>(i), f.data.get());
        display::convertFrame(f, device::kDualScreenLayout);
    }
    pipewire::PipeWireCamera camera(
        {"tavrin-capture-bench", "Tavrin Capture benchmark", std::chrono::seconds(3)});
    camera.setEnabled(true, {});
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (!camera.published() && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!camera.published()) {
        state.SkipWithError("no PipeWire daemon (run under scripts/test-env.sh)");
        return;
    }
    std::unique_ptr<Reader> reader;
    if (withReader) {
        reader = std::make_unique<Reader>("tavrin-capture-bench", format);
        while (!camera.wantsFrames() && Clock::now() < limit + std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!camera.wantsFrames()) {
            state.SkipWithError("the reader did not connect");
            return;
        }
    }

    std::vector<double> handOffUs;
    auto next = Clock::now();
    for (auto _ : state) {
        device::FrameRef frame = pool.take(std::chrono::milliseconds(100));
        const auto start = Clock::now();
        // What the control window does with each converted frame.
        if (camera.wantsFrames())
            camera.present(frame.share(), {});
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        handOffUs.push_back(seconds * 1e6);
        frame.reset();
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto c = camera.counters();
    state.counters["gui_us_median"] = percentile(handOffUs, 0.5);
    state.counters["gui_us_p99"] = percentile(handOffUs, 0.99);
    state.counters["sent"] = static_cast<double>(c.sent);
    state.counters["dropped_busy"] = static_cast<double>(c.droppedBusy);
    state.counters["dropped_no_buffer"] = static_cast<double>(c.droppedNoBuffer);
    if (reader) {
        const std::vector<double> lat = reader->latenciesMs();
        state.counters["received"] = static_cast<double>(reader->received());
        state.counters["latency_ms_median"] = percentile(lat, 0.5);
        state.counters["latency_ms_p99"] = percentile(lat, 0.99);
        state.counters["latency_ms_max"] = lat.empty() ? 0 : *std::max_element(lat.begin(), lat.end());
    }
}
BENCHMARK(BM_CameraHandOffAtSixtyFramesASecond)
    ->ArgName("reader")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(600);

} // namespace
