// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <cstdint>
#include <memory>

namespace tavrin::record {

class MemAllocator;

// One buffer of an allocator, handed downstream by pointer. The buffer memory
// belongs to the allocator; the sample goes back to it when its handle ends.
class MediaSample {
  public:
    MediaSample(MemAllocator* owner, uint8_t* buffer, int32_t size, int32_t prefix);
    MediaSample(const MediaSample&) = delete;
    MediaSample& operator=(const MediaSample&) = delete;

    HRESULT GetPointer(uint8_t** buffer) const;
    int32_t GetSize() const { return size_; }
    int32_t GetActualDataLength() const { return actualLength_; }
    HRESULT SetActualDataLength(int32_t length);
    // The room in front of the buffer that the allocator was asked to keep.
    int32_t GetPrefixSize() const { return prefix_; }

    HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* end);
    // S_OK with both times, VFW_S_NO_STOP_TIME-like success (1) with start only, error when unset.
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) const;
    HRESULT SetSyncPoint(bool sync);
    bool IsSyncPoint() const { return sync_; }

  private:
    friend class MemAllocator;
    void reset();

    MemAllocator* owner_;
    uint8_t* buffer_;
    int32_t size_;
    int32_t prefix_;
    int32_t actualLength_;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME end_ = 0;
    bool hasStart_ = false;
    bool hasEnd_ = false;
    bool sync_ = false;
};

// Gives a sample back to its allocator when the holder lets go.
struct SampleRelease {
    void operator()(MediaSample* sample) const;
};
using SamplePtr = std::unique_ptr<MediaSample, SampleRelease>;

} // namespace tavrin::record
