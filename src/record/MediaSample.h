// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <cstdint>
#include <memory>

namespace tavrin::record {

class MemAllocator;

// One buffer of the allocator, handed downstream by pointer. The memory belongs to
// the allocator; the sample goes back to it when its handle ends.
class MediaSample {
  public:
    MediaSample(MemAllocator* owner, uint8_t* buffer, int32_t size)
        : owner_(owner), buffer_(buffer), size_(size), actualLength_(size) {}
    MediaSample(const MediaSample&) = delete;
    MediaSample& operator=(const MediaSample&) = delete;

    HRESULT GetPointer(uint8_t** buffer) const {
        if (!buffer)
            return E_POINTER;
        *buffer = buffer_;
        return S_OK;
    }
    int32_t GetSize() const { return size_; }
    int32_t GetActualDataLength() const { return actualLength_; }
    HRESULT SetActualDataLength(int32_t length) {
        if (length < 0 || length > size_)
            return E_INVALIDARG;
        actualLength_ = length;
        return S_OK;
    }
    HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* end) {
        start_ = start ? *start : 0;
        end_ = end ? *end : start_ + 1;
        return S_OK;
    }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) const {
        if (start)
            *start = start_;
        if (end)
            *end = end_;
        return S_OK;
    }
    HRESULT SetSyncPoint(bool sync) {
        sync_ = sync;
        return S_OK;
    }
    bool IsSyncPoint() const { return sync_; }

  private:
    friend class MemAllocator;
    friend struct SampleRelease;
    MemAllocator* owner_;
    uint8_t* buffer_;
    int32_t size_;
    int32_t actualLength_;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME end_ = 0;
    bool sync_ = false;
};

// Gives a sample back to its allocator when the holder lets go.
struct SampleRelease {
    void operator()(MediaSample* sample) const;
};
using SamplePtr = std::unique_ptr<MediaSample, SampleRelease>;

} // namespace tavrin::record
