// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/CCapturePin.h"

#include "base/Diagnostics.h"
#include "record/TavrinFilter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tavrin::record {

CCapturePin::CCapturePin(TavrinFilter* filter)
    : CSourceStream(filter, "Out", "tavrin-video"), owner_(filter) {
    base::recordLog.debug("%s\n", "CCapturePin::CCapturePin");
}

CCapturePin::~CCapturePin() {
    base::recordLog.debug("%s\n", "CCapturePin::~CCapturePin");
    drainFrameQueue(queue_);
}

HRESULT CCapturePin::putFrame(const device::FrameRef& frame) {
    if (!frame)
        return E_POINTER;
    if (owner_->IsStopped())
        return E_FAIL;
    REFERENCE_TIME t = 0;
    if (FAILED(owner_->StreamTime(t)))
        t = 0;
    const REFERENCE_TIME interval = frameInterval_.load();
    const int64_t a = t / interval;
    const int64_t last = lastIndex_.load();
    if (a < last)
        return S_OK; // the grid is ahead: this slot is filled already
    int64_t n;
    if (a == last)
        n = last + 1;
    else if (a == last + 1)
        n = a;
    else
        n = a - 1;
    frame->sampleTime = n * interval;
    lastSampleTime_.store(n * interval);
    framesSkipped_.fetch_add(static_cast<int32_t>(n - last - 1));
    lastIndex_.store(n);
    queue_.push(frame.share());
    return S_OK;
}

device::FrameRef CCapturePin::getNextFrame() {
    for (;;) {
        device::FrameRef frame;
        if (queue_.popFor(frame, kStarvedWait))
            return frame;
        base::recordLog.warning("%s starved\n", "CCapturePin::getNextFrame");
        if (stopRequested_.load())
            return {};
    }
}

HRESULT CCapturePin::setArea(int32_t width, int32_t height, int32_t offset) {
    if (!owner_->IsStopped() || offset < 0 || width <= 0 || height <= 0)
        return E_FAIL;
    std::lock_guard lk(*lock_);
    width_ = width;
    height_ = height;
    offset_ = offset;
    return S_OK;
}

HRESULT CCapturePin::stop() {
    base::recordLog.debug("%s\n", "CCapturePin::stop");
    queue_.push(device::FrameRef{}); // the end marker
    stopRequested_.store(true);
    return S_OK;
}

HRESULT CCapturePin::getStatistic(int32_t kind, int64_t* result) {
    if (!result)
        return S_OK;
    if (kind == STAT_SAMPLES)
        *result = samplesDelivered_.load();
    else if (kind == STAT_SKIPPED)
        *result = framesSkipped_.load();
    else if (kind == STAT_LAST_TIME)
        *result = lastSampleTime_.load();
    return S_OK;
}

HRESULT CCapturePin::fillMediaType(MediaType* type) const {
    const REFERENCE_TIME interval = frameInterval_.load();
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width_;
    vih.bmiHeader.biHeight = height_;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = BI_RGB;
    vih.bmiHeader.biSizeImage = bitmapSizeImage(vih.bmiHeader);
    vih.AvgTimePerFrame = interval;
    vih.dwBitErrorRate = 0;
    vih.dwBitRate =
        interval > 0
            ? static_cast<uint32_t>(static_cast<int64_t>(vih.bmiHeader.biSizeImage) * 80000000LL / interval)
            : 0;
    try {
        type->majortype = MEDIATYPE_Video;
        type->subtype = MEDIASUBTYPE_RGB24;
        type->bFixedSizeSamples = true;
        type->bTemporalCompression = false;
        type->lSampleSize = vih.bmiHeader.biSizeImage;
        type->formattype = FORMAT_VideoInfo;
        type->setFormat(vih);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CCapturePin::GetMediaType(int32_t position, MediaType* type) {
    std::lock_guard lk(*lock_);
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    if (!type)
        return E_POINTER;
    type->freeFormat();
    return fillMediaType(type);
}

HRESULT CCapturePin::CheckMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    if (!(type->majortype == MEDIATYPE_Video) || !type->bFixedSizeSamples ||
        !(type->subtype == MEDIASUBTYPE_RGB24))
        return E_INVALIDARG;
    auto vih = type->formatAs<VIDEOINFOHEADER>();
    if (!vih)
        return E_INVALIDARG;
    if (vih->bmiHeader.biWidth != width_ || vih->bmiHeader.biHeight != height_)
        return E_INVALIDARG;
    if (vih->AvgTimePerFrame < kMinFrameInterval || vih->AvgTimePerFrame > kMaxFrameInterval)
        return E_INVALIDARG;
    if (!vih->rcTarget.isEmptyZero())
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CCapturePin::SetMediaType(const MediaType* type) {
    std::lock_guard lk(*lock_);
    HRESULT hr = CSourceStream::SetMediaType(type);
    if (FAILED(hr))
        return hr;
    auto vih = mt_.formatAs<VIDEOINFOHEADER>();
    if (!vih)
        return E_UNEXPECTED;
    frameInterval_.store(vih->AvgTimePerFrame);
    base::recordLog.debug("SetMediaType: %f framerate selected\n",
                          static_cast<double>(UNITS) / static_cast<double>(vih->AvgTimePerFrame));
    return S_OK;
}

HRESULT CCapturePin::DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
    if (!allocator || !properties)
        return E_POINTER;
    std::lock_guard lk(*lock_);
    auto vih = mt_.formatAs<VIDEOINFOHEADER>();
    if (!vih)
        return E_UNEXPECTED;
    properties->cBuffers = std::max(properties->cBuffers, 8);
    properties->cbBuffer = static_cast<int32_t>(vih->bmiHeader.biSizeImage);
    properties->cbAlign = std::max(properties->cbAlign, 4);
    properties->cbPrefix = 16;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(properties, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cbBuffer < properties->cbBuffer || actual.cbPrefix != 16 || actual.cBuffers < 1)
        return E_FAIL;
    return S_OK;
}

HRESULT CCapturePin::Notify() {
    return E_FAIL;
}

HRESULT CCapturePin::OnThreadCreate() {
    base::recordLog.debug("%s\n", "CCapturePin::OnThreadCreate");
    return S_OK;
}

HRESULT CCapturePin::OnThreadStartPlay() {
    base::recordLog.debug("%s\n", "CCapturePin::OnThreadStartPlay");
    lastIndex_.store(0);
    samplesDelivered_.store(0);
    framesSkipped_.store(0);
    stopRequested_.store(false);
    drainFrameQueue(queue_);
    return S_OK;
}

HRESULT CCapturePin::OnThreadDestroy() {
    base::recordLog.debug("%s\n", "CCapturePin::OnThreadDestroy");
    drainFrameQueue(queue_);
    return S_OK;
}

HRESULT CCapturePin::FillBuffer(MediaSample* sample) {
    if (!sample)
        return E_POINTER;
    std::lock_guard fill(fillLock_);
    // Let go of when the sample is filled (or not), still under the fill lock.
    const device::FrameRef frame = getNextFrame();
    if (!frame) {
        base::recordLog.info("getNextFrame timed out or stop requested, stopping AVI\n");
        return S_FALSE;
    }
    uint8_t* dst = nullptr;
    sample->GetPointer(&dst);
    const int32_t w = width_;
    const int32_t h = height_;
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
    if (!dst || static_cast<int64_t>(sample->GetSize()) < static_cast<int64_t>(rowBytes) * h)
        return E_UNEXPECTED;

    // The area was fixed at the start; the frame's image follows the current layout and
    // may be smaller now. Whatever lies outside the image is written black.
    const uint8_t* image = frame->image.data();
    const int64_t pixels = static_cast<int64_t>(frame->image.size() / 4);
    const int64_t stride = frame->layout.width;
    for (int32_t r = 0; r < h; ++r) {
        const int64_t y = h - 1 - r;
        uint8_t* d = dst + static_cast<std::size_t>(r) * rowBytes;
        const int64_t rowStart = y * stride + offset_;
        int64_t avail = 0;
        if (stride > 0 && rowStart < pixels)
            avail = std::min<int64_t>(w, pixels - rowStart);
        const uint8_t* s = image + rowStart * 4;
        for (int64_t x = 0; x < avail; ++x) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d += 3;
            s += 4;
        }
        if (avail < w)
            std::memset(d, 0, static_cast<std::size_t>(w - avail) * 3);
    }

    const REFERENCE_TIME start = samplesDelivered_.load() == 0 ? 0 : frame->sampleTime;
    const REFERENCE_TIME end = start + frameInterval_.load();
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(true);
    samplesDelivered_.fetch_add(1);
    return S_OK;
}

HRESULT CCapturePin::GetNumberOfCapabilities(int32_t* count, int32_t* size) {
    if (!count || !size)
        return E_POINTER;
    *count = 1;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CCapturePin::GetStreamCaps(int32_t index, std::unique_ptr<MediaType>* type,
                                   VIDEO_STREAM_CONFIG_CAPS* caps) {
    if (!type || !caps)
        return E_POINTER;
    if (index < 0)
        return E_INVALIDARG;
    if (index > 0)
        return S_FALSE;
    *caps = VIDEO_STREAM_CONFIG_CAPS{};
    caps->guid = FORMAT_VideoInfo;
    caps->MinFrameInterval = kMinFrameInterval;
    caps->MaxFrameInterval = kMaxFrameInterval;
    std::unique_ptr<MediaType> mt(new (std::nothrow) MediaType);
    if (!mt)
        return E_OUTOFMEMORY;
    std::lock_guard lk(*lock_);
    HRESULT hr = fillMediaType(mt.get());
    if (FAILED(hr))
        return hr;
    *type = std::move(mt);
    return S_OK;
}

HRESULT CCapturePin::GetFormat(std::unique_ptr<MediaType>* type) {
    if (!type)
        return E_POINTER;
    VIDEO_STREAM_CONFIG_CAPS caps;
    return GetStreamCaps(0, type, &caps);
}

HRESULT CCapturePin::SetFormat(const MediaType* type) {
    if (!type)
        return E_POINTER;
    if (!owner_->IsStopped())
        return VFW_E_NOT_STOPPED;
    // Only AvgTimePerFrame is used, and only from a block that really holds it.
    auto vih = type->formatAs<VIDEOINFOHEADER>();
    if (!vih)
        return VFW_E_INVALIDMEDIATYPE;
    if (vih->AvgTimePerFrame < kMinFrameInterval || vih->AvgTimePerFrame > kMaxFrameInterval)
        return VFW_E_INVALIDMEDIATYPE;
    frameInterval_.store(vih->AvgTimePerFrame);
    base::recordLog.debug("SetFormat: %f fps\n",
                          static_cast<double>(UNITS) / static_cast<double>(vih->AvgTimePerFrame));
    return S_OK;
}

} // namespace tavrin::record
