// SPDX-License-Identifier: GPL-2.0-or-later
// The recording source's pin over arbitrary input: any format block given to the
// media type checks and SetFormat, any recorded area, and frames whose image and
// layout disagree with that area. Nothing may be read outside a format block or
// a frame's image, a sample is never written past the buffer the pin asked for,
// a queued frame always fills a sample, and every frame goes back to the pool.
//
// The pool is made once and reused, and so are the frames' images and the sample
// buffer while their size stays the same (a new size gets a new exact-size block,
// so that reads and writes past the end are still caught). An input that runs out
// early takes the ordinary path (the bottom screen's area, a whole image, one frame on
// the grid), so that nearly every input reaches the copy into the sample.
#include "base/Diagnostics.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "record/MemAllocator.h"
#include "record/ReferenceClock.h"
#include "record/TavrinFilter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace tavrin;
using namespace tavrin::record;

namespace {

device::FramePool& sharedPool() {
    static device::FramePool* pool = [] {
        base::setDiagnosticsToStdout(false);
        auto* p = new device::FramePool;
        if (!p->setup())
            std::abort();
        return p;
    }();
    return *pool;
}

void offerMediaTypes(FuzzedDataProvider& in, CCapturePin& pin) {
    const int count = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < count; ++i) {
        MediaType mt;
        mt.majortype = in.ConsumeBool() ? MEDIATYPE_Audio : MEDIATYPE_Video;
        mt.subtype = in.ConsumeBool() ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_RGB24;
        mt.bFixedSizeSamples = !in.ConsumeBool();
        // An exact-size block, so that a read past it is caught.
        mt.format = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 120));
        mt.format.shrink_to_fit();
        pin.CheckMediaType(&mt);
        pin.SetFormat(&mt);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    device::FramePool& pool = sharedPool();
    FuzzedDataProvider in(data, size);
    {
        auto filter = std::dynamic_pointer_cast<TavrinFilter>(
            TavrinFilter::CreateInstance(in.ConsumeIntegral<int32_t>()));
        if (!filter)
            return 0;
        CCapturePin& pin = *filter->pin;
        offerMediaTypes(in, pin);

        // The area: the bottom screen of the dual-screen picture (as a recording of
        // that screen alone has it) unless the input asks for another shape, which
        // may be refused.
        int32_t width = 256, height = 192, offset = 256 * 192;
        if (in.ConsumeBool()) {
            width = in.ConsumeIntegralInRange<int32_t>(-4, 300);
            height = in.ConsumeIntegralInRange<int32_t>(-4, 400);
            offset = in.ConsumeIntegralInRange<int32_t>(-10, 200000);
        }
        if (filter->setArea(width, height, offset) != S_OK)
            return 0;
        MediaType offered;
        if (pin.GetMediaType(0, &offered) != S_OK || pin.CheckMediaType(&offered) != S_OK)
            std::abort(); // the pin refuses its own offer
        pin.SetMediaType(&offered);
        MemAllocator allocator; // only negotiates: the sample below is exactly the size agreed
        ALLOCATOR_PROPERTIES props{};
        if (pin.DecideBufferSize(&allocator, &props) != S_OK || props.cbBuffer <= 0)
            std::abort();
        static std::vector<uint8_t> buffer;
        if (buffer.size() != static_cast<std::size_t>(props.cbBuffer))
            buffer = std::vector<uint8_t>(static_cast<std::size_t>(props.cbBuffer));

        auto clock = std::make_shared<ManualReferenceClock>();
        filter->SetSyncSource(clock);
        filter->Run(0);
        pin.OnThreadStartPlay();

        const int frames = in.ConsumeIntegralInRange<int>(1, 4);
        for (int i = 0; i < frames; ++i) {
            device::FrameRef frame = pool.take(std::chrono::milliseconds(0));
            if (!frame)
                std::abort(); // a frame was lost by an earlier input
            const int layoutId = in.ConsumeBool()
                                     ? in.ConsumeIntegralInRange<int>(0, device::kLayoutCount - 1)
                                     : device::kDualScreenLayout;
            frame->layout = device::screenLayouts[layoutId];
            if (in.ConsumeBool())
                frame->layout.width = in.ConsumeIntegralInRange<int32_t>(-5, 700);
            const std::size_t whole = static_cast<std::size_t>(device::screenLayouts[layoutId].width) *
                                      device::screenLayouts[layoutId].height * 4;
            const std::size_t imageBytes =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, 256 * 384 * 4) : whole;
            if (frame->image.size() != imageBytes)
                frame->image = std::vector<uint8_t>(imageBytes, 0x5A); // exact size: a read past it is caught
            clock->advance(in.ConsumeIntegralInRange<int64_t>(0, 2000000));
            const int queued = pin.queuedCount();
            filter->putFrame(frame);
            frame.reset();
            if (pin.queuedCount() == queued)
                continue; // dropped: the grid was ahead

            MediaSample sample(nullptr, buffer.data(), props.cbBuffer);
            if (pin.FillBuffer(&sample) != S_OK)
                std::abort(); // a queued frame always fills a sample
        }
        filter->stop();
        filter->Stop();
    }
    if (pool.queue().count() != device::FramePool::kFrameCount)
        std::abort(); // the filter kept or lost a frame
    return 0;
}
