// SPDX-License-Identifier: GPL-2.0-or-later
// Frame conversion speed per kernel and layout, next to the memory-bound floor
// of the same run: reading the 196,608-byte picture once and writing the
// 393,216-byte dual-screen image. The counter "ratio" is conversion time over
// floor time (1.0 would be as fast as memory allows).
#include "device/ScreenLayout.h"
#include "display/CameraPicture.h"
#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <vector>

using namespace tavrin;
using display::ConversionKernel;

namespace {

constexpr std::size_t kDualImageBytes = 256 * 384 * 4;

std::vector<uint8_t> boardPicture() {
    std::vector<uint8_t> data(device::kFrameBufferBytes, 0);
    sim::SimulatedBoard::renderPicture(42, data.data());
    return data;
}

// One pass over the picture, each 32 bytes read once and stored twice.
void memoryFloor(const uint8_t* src, uint8_t* dst) {
    constexpr std::size_t half = device::kPictureBytes;
    for (std::size_t i = 0; i < half; i += 32) {
        uint8_t chunk[32];
        std::memcpy(chunk, src + i, 32);
        std::memcpy(dst + i, chunk, 32);
        std::memcpy(dst + half + i, chunk, 32);
    }
}

// This thread's processor time, so that other work on a shared machine does not
// enter the ratio.
double threadNanoseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <class F> double nanosecondsPerCall(F&& f, int64_t calls) {
    const double start = threadNanoseconds();
    for (int64_t i = 0; i < calls; ++i) {
        f();
        benchmark::ClobberMemory();
    }
    return (threadNanoseconds() - start) / static_cast<double>(calls);
}

void runConversion(benchmark::State& state, int layout, ConversionKernel kernel) {
    if (!display::kernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const std::vector<uint8_t> data = boardPicture();
    std::vector<uint8_t> image(kDualImageBytes, 0);
    const auto convert = [&] {
        if (layout == device::kDualScreenLayout)
            display::convertDualScreen(data.data(), image.data(), kernel);
        else
            display::convertSingleScreen(data.data(), image.data(), kernel);
        benchmark::DoNotOptimize(image.data());
    };

    int64_t calls = 0;
    const double start = threadNanoseconds();
    for (auto _ : state) {
        convert();
        benchmark::ClobberMemory();
        ++calls;
    }
    const double convertNs = (threadNanoseconds() - start) / static_cast<double>(calls);

    // The floor, measured now on the same buffers with caches in the same state.
    const double floorNs = nanosecondsPerCall(
        [&] {
            memoryFloor(data.data(), image.data());
            benchmark::DoNotOptimize(image.data());
        },
        std::max<int64_t>(calls, 200));

    state.counters["floor_us"] = floorNs / 1000.0;
    state.counters["ratio"] = convertNs / floorNs;
    state.SetBytesProcessed(calls * static_cast<int64_t>(device::kPictureBytes));
}

void BM_DualReference(benchmark::State& s) {
    runConversion(s, 6, ConversionKernel::Reference);
}
void BM_DualPortable(benchmark::State& s) {
    runConversion(s, 6, ConversionKernel::Portable);
}
void BM_DualAvx2(benchmark::State& s) {
    runConversion(s, 6, ConversionKernel::Avx2);
}
void BM_SingleReference(benchmark::State& s) {
    runConversion(s, 7, ConversionKernel::Reference);
}
void BM_SinglePortable(benchmark::State& s) {
    runConversion(s, 7, ConversionKernel::Portable);
}
void BM_SingleAvx2(benchmark::State& s) {
    runConversion(s, 7, ConversionKernel::Avx2);
}

// What the program runs per frame: convertFrame with the best kernel, no allocation.
void BM_ConvertFrame(benchmark::State& state) {
    const int layout = static_cast<int>(state.range(0));
    device::CaptureFrame frame;
    frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
    sim::SimulatedBoard::renderPicture(7, frame.data.get());
    display::convertFrame(frame, layout);
    const uint8_t* storage = frame.image.data();
    for (auto _ : state) {
        display::convertFrame(frame, layout);
        benchmark::DoNotOptimize(frame.image.data());
    }
    if (frame.image.data() != storage)
        state.SkipWithError("the image was reallocated in steady state");
}

// The camera's copy of a converted frame (on its own thread, only while a program
// reads it): 0 as the frame comes, 1 side by side and turned, into that canvas.
void BM_CameraPicture(benchmark::State& state) {
    device::CaptureFrame frame;
    frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
    sim::SimulatedBoard::renderPicture(7, frame.data.get());
    display::convertFrame(frame, device::kDualScreenLayout);
    base::PictureOptions picture;
    if (state.range(0)) {
        picture.arrangement = base::Arrangement::SideBySide;
        picture.rotation = 90;
    }
    const display::CameraCanvas canvas = display::cameraCanvas(picture);
    std::vector<uint8_t> out(canvas.bytes());
    for (auto _ : state) {
        display::composeCameraPicture(frame, picture, canvas, out.data(), canvas.stride());
        benchmark::DoNotOptimize(out.data());
    }
}

} // namespace

BENCHMARK(BM_DualReference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DualPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DualAvx2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SingleReference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SinglePortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SingleAvx2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertFrame)->Arg(6)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CameraPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
