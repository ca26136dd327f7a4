// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/TavrinFilter.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeReceiver.h"
#include "record/MemAllocator.h"
#include "record/RecordingGraph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tavrin;
using namespace tavrin::record;
using namespace std::chrono_literals;
using tavrin::testing::eventually;

namespace {

constexpr REFERENCE_TIME k30 = 333333;

// The converted image of a frame: every pixel different, byte 3 set so that a copy of it shows.
void paintImage(device::CaptureFrame& frame, const device::ScreenLayout& layout, int seed) {
    frame.layout = layout;
    frame.image.resize(static_cast<std::size_t>(layout.width) * layout.height * 4);
    for (std::size_t i = 0; i < frame.image.size() / 4; ++i) {
        frame.image[i * 4 + 0] = static_cast<uint8_t>(i + seed);
        frame.image[i * 4 + 1] = static_cast<uint8_t>((i >> 8) + 3 * seed);
        frame.image[i * 4 + 2] = static_cast<uint8_t>(i * 7 + seed);
        frame.image[i * 4 + 3] = 0xEE;
    }
}

class CapturePinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pool.setup());
        base = TavrinFilter::CreateInstance(30);
        filter = std::dynamic_pointer_cast<TavrinFilter>(base);
        ASSERT_NE(filter, nullptr);
        filter->SetSyncSource(clock);
    }

    // A converted frame with the control window's reference.
    device::FrameRef takeFrame(int layoutId = device::kDualScreenLayout, int seed = 0) {
        device::FrameRef f = pool.take(0ms);
        EXPECT_TRUE(f);
        paintImage(*f, device::screenLayouts[layoutId], seed);
        return f;
    }

    // A frame arriving at stream time t; returns the grid index it got, or -1 when dropped.
    int64_t arrive(REFERENCE_TIME t) {
        clock->set(t);
        device::FrameRef f = takeFrame();
        const int queuedBefore = filter->pin->queuedCount();
        EXPECT_EQ(filter->putFrame(f), S_OK);
        const bool queued = filter->pin->queuedCount() > queuedBefore;
        const int64_t index = queued ? f->sampleTime / filter->pin->frameInterval() : -1;
        f.reset();
        // Keep the pool from running dry: hand queued frames straight back.
        while (filter->pin->queuedCount() > 0)
            filter->pin->getNextFrame().reset();
        return index;
    }

    int64_t stat(int32_t kind) {
        int64_t v = -99;
        filter->getStatistic(kind, &v);
        return v;
    }

    tavrin::testing::DiagnosticCapture diag;
    device::FramePool pool;
    std::shared_ptr<ManualReferenceClock> clock = std::make_shared<ManualReferenceClock>();
    std::shared_ptr<BaseFilter> base;
    std::shared_ptr<TavrinFilter> filter;
};

TEST_F(CapturePinTest, GridPlacesEachArrivalWithinOneSlotAndCountsGaps) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_EQ(filter->pin->frameInterval(), k30);

    // Arrival slot a against lastIndex 10: 9 drops, 10/11/12 give 11, 15 gives 14 with 3 skipped.
    struct Case {
        int64_t slot;
        int64_t index;
        int64_t skipped;
    };
    for (const Case c :
         {Case{9, -1, 0}, Case{10, 11, 0}, Case{11, 11, 0}, Case{12, 11, 0}, Case{15, 14, 3}}) {
        filter->pin->OnThreadStartPlay();
        ASSERT_EQ(arrive(11 * k30 + 5), 10); // lastIndex 0, slot 11 -> index 10
        ASSERT_EQ(filter->pin->lastIndex(), 10);
        const int64_t skippedBefore = stat(STAT_SKIPPED);
        EXPECT_EQ(skippedBefore, 9);

        EXPECT_EQ(arrive(c.slot * k30 + k30 / 2), c.index) << "slot " << c.slot;
        EXPECT_EQ(stat(STAT_SKIPPED) - skippedBefore, c.skipped) << "slot " << c.slot;
        EXPECT_EQ(filter->pin->lastIndex(), c.index < 0 ? 10 : c.index);
        if (c.index > 0) {
            EXPECT_EQ(stat(STAT_LAST_TIME), c.index * k30);
        }
    }
}

TEST_F(CapturePinTest, FramesTwicePerSlotKeepEverySecondAndSkipNothing) {
    ASSERT_EQ(filter->setArea(256, 384, 0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();
    std::vector<int64_t> indices;
    for (int i = 0; i < 40; ++i)
        indices.push_back(arrive(i * k30 / 2 + 10));
    for (int i = 0; i < 40; ++i) {
        if (i % 2 == 0)
            EXPECT_EQ(indices[i], i / 2 + 1) << "frame " << i;
        else
            EXPECT_EQ(indices[i], -1) << "frame " << i << " should be dropped";
    }
    EXPECT_EQ(stat(STAT_SKIPPED), 0);
}

TEST_F(CapturePinTest, StoppedFilterRefusesFramesAndTakesNoReference) {
    device::FrameRef f = takeFrame();
    EXPECT_EQ(filter->putFrame(f), E_FAIL);
    EXPECT_EQ(f->refCount, 1);
    EXPECT_EQ(filter->pin->queuedCount(), 0);
    EXPECT_EQ(filter->putFrame(device::FrameRef{}), E_POINTER);
    f.reset();
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST_F(CapturePinTest, StatisticOfUnknownKindLeavesResultAlone) {
    int64_t v = 1234;
    EXPECT_EQ(filter->getStatistic(7, &v), S_OK);
    EXPECT_EQ(v, 1234);
    EXPECT_EQ(filter->getStatistic(-1, &v), S_OK);
    EXPECT_EQ(v, 1234);
}

TEST_F(CapturePinTest, FillBufferCopiesBottomRowFirstAsRgb24AndStampsFromTheGrid) {
    // The bottom screen of the dual layout: 256 x 192 from pixel 49152.
    ASSERT_EQ(filter->setArea(256, 192, 49152), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();

    MemAllocator allocator;
    ALLOCATOR_PROPERTIES want{2, 256 * 192 * 3, 4, 16}, got{};
    ASSERT_EQ(allocator.SetProperties(&want, &got), S_OK);
    ASSERT_EQ(allocator.Commit(), S_OK);

    // Arrival slots 4, 6 and 9 give the indices 3, 5 and 8.
    const REFERENCE_TIME arrivals[] = {4 * k30 + 1, 6 * k30 + 1, 9 * k30 + 1};
    std::vector<device::FrameRef> frames;
    for (int i = 0; i < 3; ++i) {
        clock->set(arrivals[i]);
        frames.push_back(takeFrame(device::kDualScreenLayout, i + 1));
        ASSERT_EQ(filter->putFrame(frames.back()), S_OK);
    }
    const int64_t expectedIndex[] = {3, 5, 8};

    for (int i = 0; i < 3; ++i) {
        SamplePtr sample;
        ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);
        ASSERT_EQ(filter->pin->FillBuffer(sample.get()), S_OK);
        REFERENCE_TIME start = -1, end = -1;
        ASSERT_EQ(sample->GetTime(&start, &end), S_OK);
        const REFERENCE_TIME wantStart = i == 0 ? 0 : expectedIndex[i] * k30;
        EXPECT_EQ(start, wantStart) << "sample " << i;
        EXPECT_EQ(end, wantStart + k30);
        EXPECT_TRUE(sample->IsSyncPoint());
        EXPECT_EQ(sample->GetActualDataLength(), sample->GetSize()) << "the pin leaves the length alone";

        uint8_t* p = nullptr;
        sample->GetPointer(&p);
        const auto& img = frames[i]->image;
        int mismatches = 0;
        for (int r = 0; r < 192 && mismatches < 5; ++r) {
            const int y = 191 - r;
            for (int x = 0; x < 256; ++x) {
                const std::size_t src = (static_cast<std::size_t>(y) * 256 + 49152 + x) * 4;
                const uint8_t* d = p + (static_cast<std::size_t>(r) * 256 + x) * 3;
                if (d[0] != img[src] || d[1] != img[src + 1] || d[2] != img[src + 2]) {
                    ADD_FAILURE() << "pixel mismatch at row " << r << " column " << x;
                    ++mismatches;
                    break;
                }
            }
        }
        EXPECT_EQ(stat(STAT_SAMPLES), i + 1);
    }
    frames.clear();
    EXPECT_EQ(pool.queue().count(), 12) << "every frame went back after its sample";
}

TEST_F(CapturePinTest, FillBufferNeverReadsBeyondASmallerImage) {
    // Area of the dual layout's bottom screen, but the frame was converted for the single layout.
    ASSERT_EQ(filter->setArea(256, 192, 49152), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();
    MemAllocator allocator;
    ALLOCATOR_PROPERTIES want{2, 256 * 192 * 3, 4, 16}, got{};
    ASSERT_EQ(allocator.SetProperties(&want, &got), S_OK);
    ASSERT_EQ(allocator.Commit(), S_OK);

    device::FrameRef f = takeFrame(device::kSingleScreenLayout);
    f->image.shrink_to_fit(); // let the sanitizer see the real end of the image
    clock->set(k30 * 3);
    ASSERT_EQ(filter->putFrame(f), S_OK);
    SamplePtr sample;
    ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);
    uint8_t* p = nullptr;
    sample->GetPointer(&p);
    std::memset(p, 0x55, static_cast<std::size_t>(sample->GetSize()));
    ASSERT_EQ(filter->pin->FillBuffer(sample.get()), S_OK);
    // 240 * 160 = 38400 pixels < 49152: nothing of the area is inside the image.
    for (int i = 0; i < 256 * 192 * 3; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;

    // A frame with no image at all (never converted) is black too.
    device::FrameRef empty = takeFrame();
    empty->image.clear();
    empty->layout = {};
    clock->set(k30 * 6);
    ASSERT_EQ(filter->putFrame(empty), S_OK);
    SamplePtr second;
    ASSERT_EQ(allocator.GetBuffer(&second), S_OK);
    second->GetPointer(&p);
    std::memset(p, 0x55, static_cast<std::size_t>(second->GetSize()));
    ASSERT_EQ(filter->pin->FillBuffer(second.get()), S_OK);
    for (int i = 0; i < 256 * 192 * 3; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;

    // Part of the area inside the image: the top area of the dual layout against an image of
    // the single layout copies the rows that exist and blackens the rest.
    f.reset();
    empty.reset();
    sample.reset();
    second.reset();
    ASSERT_EQ(filter->Stop(), S_OK);
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();
    device::FrameRef partial = takeFrame(device::kSingleScreenLayout, 9);
    partial->image.shrink_to_fit();
    clock->set(k30 * 9);
    ASSERT_EQ(filter->putFrame(partial), S_OK);
    ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);
    sample->GetPointer(&p);
    std::memset(p, 0x55, static_cast<std::size_t>(sample->GetSize()));
    ASSERT_EQ(filter->pin->FillBuffer(sample.get()), S_OK);
    // Destination row r holds source row 191 - r; rows 160 and below lie outside the image.
    for (int r = 0; r < 32; ++r)
        for (int i = 0; i < 256 * 3; ++i)
            ASSERT_EQ(p[r * 256 * 3 + i], 0) << "row " << r;
    // Source row 0 is the image's first 256 pixels.
    const uint8_t* top = p + 191 * 256 * 3;
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(top[x * 3], partial->image[x * 4]) << x;
    partial.reset();
}

TEST_F(CapturePinTest, StopWhileWaitingEndsTheStreamAtOnce) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();
    MemAllocator allocator;
    ALLOCATOR_PROPERTIES want{1, 256 * 192 * 3, 4, 16}, got{};
    ASSERT_EQ(allocator.SetProperties(&want, &got), S_OK);
    ASSERT_EQ(allocator.Commit(), S_OK);
    SamplePtr sample;
    ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);

    std::atomic<HRESULT> result{E_UNEXPECTED};
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        result = filter->pin->FillBuffer(sample.get());
        done = true;
    });
    std::this_thread::sleep_for(50ms); // room for a wrong return
    EXPECT_FALSE(done.load()) << "FillBuffer waits for a frame";
    EXPECT_EQ(filter->stop(), S_OK);
    streaming.join();
    EXPECT_EQ(result.load(), S_FALSE);
    EXPECT_EQ(diag.count("CCapturePin::stop\n"), 1);
    EXPECT_EQ(diag.count("getNextFrame timed out or stop requested, stopping AVI\n"), 1);
    EXPECT_EQ(diag.count("starved"), 0) << "the end marker is taken without a timeout";
}

TEST_F(CapturePinTest, StarvedPinReportsAndKeepsWaitingUntilStop) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    filter->pin->OnThreadStartPlay();
    std::atomic<bool> done{false};
    device::FrameRef got;
    std::thread waiter([&] {
        got = filter->pin->getNextFrame();
        done = true;
    });
    // One starved line after 750 ms, and the wait goes on.
    eventually([&] { return diag.count("CCapturePin::getNextFrame starved\n") > 0; }, 2s);
    EXPECT_EQ(diag.count("CCapturePin::getNextFrame starved\n"), 1);
    EXPECT_FALSE(done.load());
    // A frame ends the wait.
    clock->set(k30 * 2);
    device::FrameRef f = takeFrame();
    ASSERT_EQ(filter->putFrame(f), S_OK);
    waiter.join();
    EXPECT_EQ(got.get(), f.get());
    got.reset();
    f.reset();
}

TEST_F(CapturePinTest, PlayStartReturnsFramesQueuedBeforeIt) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    ASSERT_EQ(filter->Pause(), S_OK);
    for (int i = 0; i < 3; ++i) {
        clock->set(k30 * (2 * i + 1));
        device::FrameRef f = takeFrame();
        ASSERT_EQ(filter->putFrame(f), S_OK) << "paused filters take frames";
        f.reset();
    }
    EXPECT_EQ(pool.queue().count(), 9);
    filter->pin->OnThreadStartPlay();
    EXPECT_EQ(pool.queue().count(), 12);
    EXPECT_EQ(filter->pin->lastIndex(), 0);
    EXPECT_EQ(stat(STAT_SAMPLES), 0);
    EXPECT_EQ(stat(STAT_SKIPPED), 0);
    EXPECT_NE(stat(STAT_LAST_TIME), 0) << "lastSampleTime survives the play start";
}

TEST_F(CapturePinTest, OfferedTypeFor256x192At30) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    MediaType mt;
    mt.format.assign(7, 0xAB); // an old block is replaced
    ASSERT_EQ(filter->pin->GetMediaType(0, &mt), S_OK);
    EXPECT_TRUE(mt.majortype == MEDIATYPE_Video);
    EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_RGB24);
    EXPECT_TRUE(mt.formattype == FORMAT_VideoInfo);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    EXPECT_EQ(mt.cbFormat(), 88u);
    auto vih = mt.formatAs<VIDEOINFOHEADER>();
    ASSERT_TRUE(vih);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 147456u);
    EXPECT_EQ(mt.lSampleSize, 147456u);
    EXPECT_EQ(vih->dwBitRate, 35389475u);
    EXPECT_EQ(vih->dwBitErrorRate, 0u);
    EXPECT_EQ(vih->AvgTimePerFrame, k30);
    EXPECT_EQ(vih->bmiHeader.biSize, 40u);
    EXPECT_EQ(vih->bmiHeader.biWidth, 256);
    EXPECT_EQ(vih->bmiHeader.biHeight, 192);
    EXPECT_EQ(vih->bmiHeader.biPlanes, 1);
    EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih->bmiHeader.biCompression, BI_RGB);
    EXPECT_TRUE(vih->rcSource.isEmptyZero());
    EXPECT_TRUE(vih->rcTarget.isEmptyZero());

    EXPECT_EQ(filter->pin->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter->pin->GetMediaType(-1, &mt), E_INVALIDARG);
}

TEST_F(CapturePinTest, StreamCapsAndFormat) {
    int32_t count = 0, size = 0;
    ASSERT_EQ(filter->pin->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 128);
    EXPECT_EQ(filter->pin->GetNumberOfCapabilities(nullptr, &size), E_POINTER);

    std::unique_ptr<MediaType> mt;
    VIDEO_STREAM_CONFIG_CAPS caps;
    caps.MaxOutputSize.cx = 77;
    caps.MaxBitsPerSecond = 77;
    ASSERT_EQ(filter->pin->GetStreamCaps(0, &mt, &caps), S_OK);
    ASSERT_NE(mt, nullptr);
    EXPECT_TRUE(caps.guid == FORMAT_VideoInfo);
    EXPECT_EQ(caps.MinFrameInterval, 166666);
    EXPECT_EQ(caps.MaxFrameInterval, 666666);
    EXPECT_EQ(caps.MaxOutputSize.cx, 0) << "the rest of the record is zeroed";
    EXPECT_EQ(caps.MaxBitsPerSecond, 0);
    EXPECT_EQ(filter->pin->GetStreamCaps(1, &mt, &caps), S_FALSE);
    EXPECT_EQ(filter->pin->GetStreamCaps(-1, &mt, &caps), E_INVALIDARG);
    EXPECT_EQ(filter->pin->GetStreamCaps(0, nullptr, &caps), E_POINTER);
    EXPECT_EQ(filter->pin->GetStreamCaps(0, &mt, nullptr), E_POINTER);

    std::unique_ptr<MediaType> format;
    ASSERT_EQ(filter->pin->GetFormat(&format), S_OK);
    EXPECT_EQ(format->formatAs<VIDEOINFOHEADER>()->AvgTimePerFrame, k30);
    EXPECT_EQ(filter->pin->GetFormat(nullptr), E_POINTER);
}

TEST_F(CapturePinTest, SetFormatAcceptsOnly15To60FramesASecondWhileStopped) {
    auto withInterval = [](REFERENCE_TIME t) {
        MediaType mt;
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = t;
        mt.setFormat(vih);
        return mt;
    };
    struct Case {
        REFERENCE_TIME t;
        HRESULT hr;
    };
    for (const Case c : {Case{166665, VFW_E_INVALIDMEDIATYPE}, Case{166666, S_OK}, Case{666666, S_OK},
                         Case{666667, VFW_E_INVALIDMEDIATYPE}}) {
        MediaType mt = withInterval(c.t);
        const REFERENCE_TIME before = filter->pin->frameInterval();
        EXPECT_EQ(filter->pin->SetFormat(&mt), c.hr) << c.t;
        EXPECT_EQ(filter->pin->frameInterval(), c.hr == S_OK ? c.t : before);
    }
    EXPECT_EQ(diag.count("SetFormat: 60.000240 fps\n"), 1);
    EXPECT_EQ(diag.count("SetFormat: 15.000015 fps\n"), 1);

    EXPECT_EQ(filter->pin->SetFormat(nullptr), E_POINTER);
    // No block, or a block too short to hold AvgTimePerFrame: refused without reading it.
    MediaType none;
    EXPECT_EQ(filter->pin->SetFormat(&none), VFW_E_INVALIDMEDIATYPE);
    MediaType shortBlock;
    shortBlock.format.assign(87, 0);
    EXPECT_EQ(filter->pin->SetFormat(&shortBlock), VFW_E_INVALIDMEDIATYPE);

    ASSERT_EQ(filter->Run(0), S_OK);
    MediaType ok = withInterval(333333);
    EXPECT_EQ(filter->pin->SetFormat(&ok), VFW_E_NOT_STOPPED);
}

TEST_F(CapturePinTest, SetAreaOnlyWhileStoppedAndWithSaneValues) {
    EXPECT_EQ(filter->setArea(0, 192, 0), E_FAIL);
    EXPECT_EQ(filter->setArea(256, -1, 0), E_FAIL);
    EXPECT_EQ(filter->setArea(256, 192, -1), E_FAIL);
    EXPECT_EQ(filter->pin->width(), 0);
    ASSERT_EQ(filter->setArea(256, 192, 49152), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->setArea(240, 160, 0), E_FAIL);
    EXPECT_EQ(filter->pin->width(), 256);
    EXPECT_EQ(filter->pin->height(), 192);
    EXPECT_EQ(filter->pin->offset(), 49152);
}

TEST_F(CapturePinTest, CheckMediaTypeRefusesEverythingButTheOfferedShape) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    MediaType good;
    ASSERT_EQ(filter->pin->GetMediaType(0, &good), S_OK);
    EXPECT_EQ(filter->pin->CheckMediaType(&good), S_OK);
    EXPECT_EQ(filter->pin->CheckMediaType(nullptr), E_POINTER);

    auto edit = [&](auto change) {
        MediaType mt = good;
        auto vih = *mt.formatAs<VIDEOINFOHEADER>();
        change(mt, vih);
        if (!mt.format.empty())
            mt.setFormat(vih);
        return filter->pin->CheckMediaType(&mt);
    };
    EXPECT_EQ(edit([](MediaType& m, VIDEOINFOHEADER&) { m.majortype = MEDIATYPE_Audio; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType& m, VIDEOINFOHEADER&) { m.bFixedSizeSamples = false; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType& m, VIDEOINFOHEADER&) { m.subtype = MEDIASUBTYPE_PCM; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType& m, VIDEOINFOHEADER&) { m.format.clear(); }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.bmiHeader.biWidth = 240; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.bmiHeader.biHeight = -192; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.AvgTimePerFrame = 166665; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.AvgTimePerFrame = 666667; }), E_INVALIDARG);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.rcTarget.right = 1; }), E_INVALIDARG);
    // Not examined: format type, source rectangle, bit count.
    EXPECT_EQ(edit([](MediaType& m, VIDEOINFOHEADER&) { m.formattype = GUID{}; }), S_OK);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.rcSource.right = 9; }), S_OK);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.bmiHeader.biBitCount = 32; }), S_OK);
    EXPECT_EQ(edit([](MediaType&, VIDEOINFOHEADER& v) { v.AvgTimePerFrame = 666666; }), S_OK);
}

TEST_F(CapturePinTest, PropertySetAnswersOnlyThePinCategory) {
    IKsPropertySet* props = filter->pin;
    GUID out{};
    uint32_t returned = 0;
    const GUID other{1, 2, 3, {4}};
    EXPECT_EQ(props->Get(other, 0, nullptr, 0, &out, 16, &returned), E_PROP_SET_UNSUPPORTED);
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, 1, nullptr, 0, &out, 16, &returned), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, 0, nullptr, 0, nullptr, 16, nullptr), E_POINTER);
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, 0, nullptr, 0, nullptr, 0, &returned), S_OK);
    EXPECT_EQ(returned, 16u);
    returned = 0;
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, 0, nullptr, 0, &out, 15, &returned), E_UNEXPECTED);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, 0, nullptr, 0, &out, 16, nullptr), S_OK);
    EXPECT_TRUE(out == PIN_CATEGORY_CAPTURE);

    uint32_t support = 0;
    EXPECT_EQ(props->QuerySupported(other, 0, &support), E_PROP_SET_UNSUPPORTED);
    EXPECT_EQ(props->QuerySupported(AMPROPSETID_Pin, 5, &support), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(props->QuerySupported(AMPROPSETID_Pin, 0, nullptr), S_OK);
    EXPECT_EQ(props->QuerySupported(AMPROPSETID_Pin, 0, &support), S_OK);
    EXPECT_EQ(support, KSPROPERTY_SUPPORT_GET);
    EXPECT_EQ(props->Set(AMPROPSETID_Pin, 0, nullptr, 0, &out, 16), E_NOTIMPL);
    EXPECT_EQ(filter->pin->Notify(), E_FAIL);
}

// An allocator that gives less than it is asked for, one way or another.
class StingyAllocator : public MemAllocator {
  public:
    enum class Short { Prefix, Size, Buffers, Refuse } what;
    explicit StingyAllocator(Short w) : what(w) {}
    HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        if (what == Short::Refuse)
            return VFW_E_BADALIGN;
        HRESULT hr = MemAllocator::SetProperties(request, actual);
        if (what == Short::Prefix)
            actual->cbPrefix = 0;
        if (what == Short::Size)
            actual->cbBuffer = request->cbBuffer - 1;
        if (what == Short::Buffers)
            actual->cBuffers = 0;
        return hr;
    }
};

TEST_F(CapturePinTest, DecideBufferSizeAsksForEightPrefixedBuffersAndChecksTheAnswer) {
    ASSERT_EQ(filter->setArea(256, 192, 0), S_OK);
    MediaType mt;
    ASSERT_EQ(filter->pin->GetMediaType(0, &mt), S_OK);
    ASSERT_EQ(filter->pin->SetMediaType(&mt), S_OK);
    EXPECT_EQ(diag.count("SetMediaType: 30.000030 framerate selected\n"), 1);

    MemAllocator allocator;
    ALLOCATOR_PROPERTIES props{2, 0, 1, 0};
    ASSERT_EQ(filter->pin->DecideBufferSize(&allocator, &props), S_OK);
    EXPECT_EQ(props.cBuffers, 8);
    EXPECT_EQ(props.cbBuffer, 147456);
    EXPECT_EQ(props.cbAlign, 4);
    EXPECT_EQ(props.cbPrefix, 16);
    ALLOCATOR_PROPERTIES more{12, 0, 16, 0};
    ASSERT_EQ(filter->pin->DecideBufferSize(&allocator, &more), S_OK);
    EXPECT_EQ(more.cBuffers, 12) << "more buffers than eight are kept";
    EXPECT_EQ(more.cbAlign, 16);

    for (auto what :
         {StingyAllocator::Short::Prefix, StingyAllocator::Short::Size, StingyAllocator::Short::Buffers}) {
        StingyAllocator stingy(what);
        ALLOCATOR_PROPERTIES p{};
        EXPECT_EQ(filter->pin->DecideBufferSize(&stingy, &p), E_FAIL);
    }
    StingyAllocator refusing(StingyAllocator::Short::Refuse);
    ALLOCATOR_PROPERTIES p{};
    EXPECT_EQ(filter->pin->DecideBufferSize(&refusing, &p), VFW_E_BADALIGN)
        << "its failure is passed on unchanged";
    EXPECT_EQ(filter->pin->DecideBufferSize(nullptr, &p), E_POINTER);
}

TEST_F(CapturePinTest, GetStateSaysAPausedLiveSourceCannotCue) {
    FILTER_STATE s = State_Running;
    EXPECT_EQ(filter->GetState(0, &s), S_OK);
    EXPECT_EQ(s, State_Stopped);
    ASSERT_EQ(filter->Pause(), S_OK);
    EXPECT_EQ(filter->GetState(0, &s), VFW_S_CANT_CUE);
    EXPECT_EQ(s, State_Paused);
    ASSERT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->GetState(0, &s), S_OK);
    EXPECT_EQ(s, State_Running);
    EXPECT_EQ(filter->GetState(0, nullptr), E_POINTER);
}

TEST(TavrinFilterCreate, AppliesTheRecordingRateAndListsTheCapability) {
    struct Case {
        int32_t fps;
        REFERENCE_TIME interval;
        const char* line;
    };
    for (const Case c :
         {Case{20, 500000, "[0] FPS=(15.00-60.00, current=20.00) src=0,0 0,0 tgt=0,0 0,0 rez=0x0 bpp=24\n"},
          Case{30, 333333, "[0] FPS=(15.00-60.00, current=30.00) src=0,0 0,0 tgt=0,0 0,0 rez=0x0 bpp=24\n"},
          Case{60, 166666, "[0] FPS=(15.00-60.00, current=60.00) src=0,0 0,0 tgt=0,0 0,0 rez=0x0 bpp=24\n"},
          Case{25, 400000, nullptr}, Case{10, 166666, nullptr}, // 1000000 is refused: the pin keeps 60
          Case{0, 166666, nullptr}, Case{-30, 166666, nullptr}}) {
        tavrin::testing::DiagnosticCapture diag;
        auto filter = std::dynamic_pointer_cast<TavrinFilter>(TavrinFilter::CreateInstance(c.fps));
        ASSERT_NE(filter, nullptr);
        EXPECT_EQ(filter->pin->frameInterval(), c.interval) << c.fps;
        const std::string text = diag.text();
        EXPECT_EQ(text.rfind("TavrinFilter::CreateInstance\nCCapturePin::CCapturePin\n", 0), 0u) << text;
        if (c.line) {
            EXPECT_NE(text.find(c.line), std::string::npos) << text;
        }
        EXPECT_EQ(diag.count("[0] FPS="), 1);
        EXPECT_TRUE(dynamic_cast<ITavrinCaptureApp*>(filter.get()) != nullptr);
        EXPECT_TRUE(filter->clsid() == CLSID_TavrinFilter);
        EXPECT_EQ(filter->pin->name(), "Out");
    }
}

// Connecting: the pin offers its one type, the receiver takes it or not, and the
// receiver's wishes for the buffers reach the pin's own allocator.
TEST(CapturePinConnection, TheReceiverTakesTheOfferedTypeAndItsWishesReachTheOneAllocator) {
    auto source = TavrinFilter::CreateInstance(30);
    auto* pin = std::dynamic_pointer_cast<TavrinFilter>(source)->pin;
    ASSERT_EQ(std::dynamic_pointer_cast<TavrinFilter>(source)->setArea(256, 192, 0), S_OK);

    tavrin::testing::FakeReceiver sound(MEDIATYPE_Audio);
    EXPECT_EQ(pin->Connect(&sound, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_FALSE(pin->IsConnected());
    EXPECT_EQ(pin->allocator(), nullptr);

    tavrin::testing::FakeReceiver video;
    video.requirements = {12, 0, 8, 0};
    ASSERT_EQ(pin->Connect(&video, nullptr), S_OK);
    EXPECT_EQ(pin->ConnectedTo(), &video);
    ASSERT_NE(pin->allocator(), nullptr);
    const ALLOCATOR_PROPERTIES props = pin->allocator()->properties();
    EXPECT_EQ(props.cBuffers, 12) << "the receiver asked for more than the pin's eight";
    EXPECT_EQ(props.cbAlign, 8);
    EXPECT_EQ(props.cbPrefix, 16);
    EXPECT_GE(props.cbBuffer, 256 * 192 * 3);
    EXPECT_EQ(pin->connectionType().formatAs<VIDEOINFOHEADER>()->bmiHeader.biHeight, 192);
    EXPECT_EQ(pin->Connect(&video, nullptr), VFW_E_ALREADY_CONNECTED);
    pin->Disconnect();
    EXPECT_FALSE(pin->IsConnected());
    EXPECT_EQ(pin->allocator(), nullptr);
}

// Ends a running stream whatever way the test leaves: the pin's end marker (unless
// the test sent it) and the graph's stop. Without it a failed assertion would leave
// the streaming thread waiting for frames and the graph's destructor for the thread.
class StreamingGuard {
  public:
    StreamingGuard(std::shared_ptr<RecordingGraph>& graph, std::shared_ptr<TavrinFilter>& source)
        : graph_(graph), source_(source) {}
    StreamingGuard(const StreamingGuard&) = delete;
    StreamingGuard& operator=(const StreamingGuard&) = delete;
    ~StreamingGuard() {
        if (source_ && !stopSent_)
            source_->stop();
        if (graph_)
            graph_->Stop();
    }
    HRESULT stop() {
        stopSent_ = true;
        return source_->stop();
    }

  private:
    std::shared_ptr<RecordingGraph>& graph_;
    std::shared_ptr<TavrinFilter>& source_;
    bool stopSent_ = false;
};

// The whole pin with its streaming thread, connected to a sink in a graph.
struct StreamingRig {
    device::FramePool pool;
    std::shared_ptr<ManualReferenceClock> clock = std::make_shared<ManualReferenceClock>();
    std::shared_ptr<RecordingGraph> graph = std::make_shared<RecordingGraph>(nullptr, clock);
    std::shared_ptr<BaseFilter> source = TavrinFilter::CreateInstance(30);
    std::shared_ptr<TavrinFilter> app = std::dynamic_pointer_cast<TavrinFilter>(source);
    std::shared_ptr<tavrin::testing::FakeReceiver> sink = std::make_shared<tavrin::testing::FakeReceiver>();

    // The pin connected to the sink for a width x height area at offset 0.
    bool connect(int32_t width, int32_t height) {
        return pool.setup() && graph->AddFilter(source, "videoSource") == S_OK &&
               app->setArea(width, height, 0) == S_OK &&
               graph->ConnectDirect(app->pin, sink.get(), nullptr) == S_OK && app->pin->IsConnected();
    }
};

TEST(CapturePinStreaming, DeliversPacedSamplesAndEndsWithEndOfStream) {
    tavrin::testing::DiagnosticCapture diag;
    StreamingRig rig;
    ASSERT_TRUE(rig.connect(256, 384));
    auto& [pool, clock, graph, source, app, sink] = rig;

    StreamingGuard guard(graph, app);
    clock->set(1000 * k30);
    ASSERT_EQ(graph->Run(), S_OK);
    EXPECT_EQ(diag.count("CCapturePin::OnThreadCreate\n"), 1);
    EXPECT_EQ(diag.count("CCapturePin::OnThreadStartPlay\n"), 1);

    // 60 frames a second into a 30 frames-a-second grid.
    for (int i = 0; i < 10; ++i) {
        device::FrameRef f = pool.take(1s);
        ASSERT_TRUE(f);
        paintImage(*f, device::screenLayouts[6], i);
        clock->set(1000 * k30 + i * 166666 + 7);
        EXPECT_EQ(app->putFrame(f), S_OK);
        f.reset();
    }
    ASSERT_TRUE(sink->waitForSamples(5));
    // Stopping with nothing queued: the stream ends at once.
    EXPECT_EQ(guard.stop(), S_OK);
    ASSERT_TRUE(sink->waitForEndOfStream());
    EXPECT_EQ(graph->Stop(), S_OK);
    EXPECT_EQ(diag.count("CCapturePin::OnThreadDestroy\n"), 1);
    EXPECT_EQ(pool.queue().count(), 12);

    auto samples = sink->samples();
    ASSERT_EQ(samples.size(), 5u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].start, i == 0 ? 0 : static_cast<REFERENCE_TIME>(i + 1) * k30);
        EXPECT_EQ(samples[i].bytes.size(), 256u * 384 * 3);
    }
    // The first delivered sample is the first frame, bottom row first.
    device::CaptureFrame probe;
    paintImage(probe, device::screenLayouts[6], 0);
    EXPECT_EQ(samples[0].bytes[0], probe.image[(383 * 256) * 4]);
    EXPECT_EQ(samples[0].bytes[2], probe.image[(383 * 256) * 4 + 2]);

    const std::string text = diag.text();
    EXPECT_LT(text.find("CCapturePin::OnThreadCreate"), text.find("CCapturePin::OnThreadStartPlay"));
    EXPECT_LT(text.find("CCapturePin::stop"), text.find("stopping AVI"));
    EXPECT_LT(text.find("stopping AVI"), text.find("CCapturePin::OnThreadDestroy"));

    graph.reset();
    app.reset();
    source.reset();
    EXPECT_EQ(diag.count("CCapturePin::~CCapturePin\n"), 1);
}

// Frames fed faster than the receiver takes them are still queued when the recording
// stops: the stop lets the stream deliver them before its end, not drop them.
TEST(CapturePinStreaming, AStopDeliversEveryQueuedFrameBeforeTheEnd) {
    StreamingRig rig;
    ASSERT_TRUE(rig.connect(256, 192));
    auto& [pool, clock, graph, source, app, sink] = rig;
    sink->delay = 15ms;
    StreamingGuard guard(graph, app);
    ASSERT_EQ(graph->Run(), S_OK);

    int queued = 0;
    for (int i = 0; i < 12; ++i) { // one frame a slot, flat out
        device::FrameRef f = pool.take(1s);
        ASSERT_TRUE(f);
        paintImage(*f, device::screenLayouts[device::kDualScreenLayout], i);
        clock->set((i + 1) * k30 + 1);
        ASSERT_EQ(app->putFrame(f), S_OK);
        ++queued;
    }
    ASSERT_GT(app->pin->queuedCount(), 2) << "the receiver should still be behind";
    EXPECT_EQ(guard.stop(), S_OK);
    EXPECT_EQ(graph->Stop(), S_OK);
    EXPECT_EQ(sink->samples().size(), static_cast<std::size_t>(queued));
    EXPECT_EQ(sink->endOfStreamCount(), 1);
    EXPECT_EQ(pool.queue().count(), 12);
}

} // namespace
