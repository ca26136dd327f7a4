// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MediaSample.h"

#include "record/MemAllocator.h"

namespace tavrin::record {

MediaSample::MediaSample(MemAllocator* owner, uint8_t* buffer, int32_t size, int32_t prefix)
    : owner_(owner), buffer_(buffer), size_(size), prefix_(prefix), actualLength_(size) {}

HRESULT MediaSample::GetPointer(uint8_t** buffer) const {
    if (!buffer)
        return E_POINTER;
    *buffer = buffer_;
    return S_OK;
}

HRESULT MediaSample::SetActualDataLength(int32_t length) {
    if (length < 0 || length > size_)
        return E_INVALIDARG;
    actualLength_ = length;
    return S_OK;
}

HRESULT MediaSample::SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* end) {
    hasStart_ = start != nullptr;
    hasEnd_ = start != nullptr && end != nullptr;
    start_ = start ? *start : 0;
    end_ = end ? *end : 0;
    return S_OK;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) const {
    if (!hasStart_)
        return VFW_E_NOT_FOUND;
    if (start)
        *start = start_;
    if (!hasEnd_) {
        if (end)
            *end = start_ + 1;
        return S_FALSE;
    }
    if (end)
        *end = end_;
    return S_OK;
}

HRESULT MediaSample::SetSyncPoint(bool sync) {
    sync_ = sync;
    return S_OK;
}

void MediaSample::reset() {
    actualLength_ = size_;
    hasStart_ = hasEnd_ = sync_ = false;
    start_ = end_ = 0;
}

void SampleRelease::operator()(MediaSample* sample) const {
    if (sample)
        MemAllocator::releaseSample(sample);
}

} // namespace tavrin::record
