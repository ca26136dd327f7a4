// The recording source's pin over arbitrary input: any format block given to the
// media type checks and SetFormat, any recorded area, and frames whose image and
// layout disagree with that area. Nothing may be read outside a format block or
// a frame's image, and a sample is never written past its buffer.
#include "app/Diagnostics.h"
#include "device/FrameQueue.h"
#include "display/ScreenLayout.h"
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (app::setDiagnosticsToStdout(false), true);
    (void)quiet;
    FuzzedDataProvider in(data, size);
    // Made before the filter, so that frames still queued go back to it at the end.
    device::FramePool pool;
    if (!pool.setup())
        return 0;

    auto filter = std::dynamic_pointer_cast<TavrinFilter>(TavrinFilter::CreateInstance(in.ConsumeIntegral<int32_t>()));
    if (!filter)
        return 0;
    CCapturePin& pin = *filter->pin;

    // Media types with format blocks of any length and content.
    for (int i = 0; i < 3; ++i) {
        MediaType mt;
        mt.majortype = in.ConsumeBool() ? MEDIATYPE_Video : MEDIATYPE_Audio;
        mt.subtype = in.ConsumeBool() ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_PCM;
        mt.bFixedSizeSamples = in.ConsumeBool();
        mt.format = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 120));
        mt.format.shrink_to_fit();
        pin.CheckMediaType(&mt);
        pin.SetFormat(&mt);
    }

    // An area of any shape (kept small enough to allocate) and frames of any image.
    const int32_t width = in.ConsumeIntegralInRange<int32_t>(-4, 300);
    const int32_t height = in.ConsumeIntegralInRange<int32_t>(-4, 400);
    const int32_t offset = in.ConsumeIntegralInRange<int32_t>(-10, 200000);
    if (filter->setArea(width, height, offset) != S_OK)
        return 0;
    MediaType offered;
    if (pin.GetMediaType(0, &offered) != S_OK || pin.CheckMediaType(&offered) != S_OK)
        return 0;
    pin.SetMediaType(&offered);
    MemAllocator allocator;
    ALLOCATOR_PROPERTIES props{};
    if (pin.DecideBufferSize(&allocator, &props) != S_OK || allocator.Commit() != S_OK)
        return 0;

    auto clock = std::make_shared<ManualReferenceClock>();
    filter->SetSyncSource(clock);
    filter->Run(0);
    pin.OnThreadStartPlay();

    const int frames = in.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 0; i < frames; ++i) {
        device::CaptureFrame* frame = pool.queue().pop(std::chrono::milliseconds(0));
        frame->refCount = 1;
        frame->layout = display::screenLayouts[in.ConsumeIntegralInRange<int>(0, display::kLayoutCount - 1)];
        if (in.ConsumeBool())
            frame->layout.width = in.ConsumeIntegralInRange<int32_t>(-5, 700);
        frame->image.assign(in.ConsumeIntegralInRange<size_t>(0, 256 * 384 * 4), 0x5A);
        frame->image.shrink_to_fit();
        clock->advance(in.ConsumeIntegralInRange<int64_t>(0, 2000000));
        const int queued = pin.queuedCount();
        filter->putFrame(frame);
        device::releaseFrame(*frame);
        if (pin.queuedCount() == queued)
            continue; // dropped: the grid was ahead

        SamplePtr sample;
        if (allocator.GetBuffer(&sample) != S_OK)
            break;
        if (pin.FillBuffer(sample.get()) != S_OK)
            std::abort(); // a queued frame always fills a sample
    }
    filter->stop();
    filter->Stop();
    return 0;
}
