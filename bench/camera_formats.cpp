// SPDX-License-Identifier: GPL-2.0-or-later
// What one frame costs the camera's thread in each format a reader may choose:
// the picture composed into the reader's buffer (BGRx), then made opaque (BGRA),
// or composed aside and converted (I420), as PipeWireCamera does while a reader
// reads. The GUI thread's part (handing the frame over) is bench/camera_handoff.
// Run with --benchmark_min_time=2 on a quiet machine; times are this thread's
// processor time (UseRealTime left off), so other programs do not enter them.
#include "display/CameraFormat.h"
#include "display/CameraPicture.h"
#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace tavrin;

namespace {

void perFrame(benchmark::State& state, display::CameraFormat format) {
    device::CaptureFrame frame;
    frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
    sim::SimulatedBoard::renderPicture(42, frame.data.get());
    display::convertFrame(frame, device::kDualScreenLayout);
    const base::PictureOptions picture;
    const display::CameraCanvas canvas = display::cameraCanvas(picture);
    std::vector<uint8_t> composed(canvas.bytes());
    std::vector<uint8_t> buffer(display::cameraBufferLayout(format, canvas).bytes);
    for (auto _ : state) {
        if (format == display::CameraFormat::I420) {
            display::composeCameraPicture(frame, picture, canvas, composed.data(), canvas.stride());
            display::bgrxToI420(composed.data(), canvas.stride(), canvas, buffer.data());
        } else {
            display::composeCameraPicture(frame, picture, canvas, buffer.data(), canvas.stride());
            if (format == display::CameraFormat::Bgra)
                display::makeOpaque(buffer.data(), canvas.stride(), canvas);
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(display::cameraFormatName(format)) + ", 256 x 384");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buffer.size()));
}

void Bgrx(benchmark::State& s) {
    perFrame(s, display::CameraFormat::Bgrx);
}
void Bgra(benchmark::State& s) {
    perFrame(s, display::CameraFormat::Bgra);
}
void I420(benchmark::State& s) {
    perFrame(s, display::CameraFormat::I420);
}

} // namespace

BENCHMARK(Bgrx)->Unit(benchmark::kMicrosecond);
BENCHMARK(Bgra)->Unit(benchmark::kMicrosecond);
BENCHMARK(I420)->Unit(benchmark::kMicrosecond);
