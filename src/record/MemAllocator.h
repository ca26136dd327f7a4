// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaSample.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tavrin::record {

struct ALLOCATOR_PROPERTIES {
    int32_t cBuffers = 0;
    int32_t cbBuffer = 0;
    int32_t cbAlign = 0;
    int32_t cbPrefix = 0;
};

#ifndef VFW_E_BADALIGN
constexpr HRESULT VFW_E_BADALIGN = static_cast<HRESULT>(0x8004020Eu);
#endif

// The fixed set of equal buffers between a pin and the receiver of its samples.
// GetBuffer blocks until a buffer is free, so a slow receiver holds its pin back.
class MemAllocator {
  public:
    MemAllocator() = default;
    virtual ~MemAllocator() = default;
    MemAllocator(const MemAllocator&) = delete;
    MemAllocator& operator=(const MemAllocator&) = delete;

    // Rounds the buffer size so that prefix + buffer is a multiple of the alignment.
    virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual);
    ALLOCATOR_PROPERTIES properties() const;
    // Makes the buffers; GetBuffer works only while committed.
    HRESULT Commit();
    // Wakes every waiter with VFW_E_NOT_COMMITTED; samples still out come back later.
    HRESULT Decommit();
    HRESULT GetBuffer(SamplePtr* sample);

  private:
    friend struct SampleRelease;
    void putBack(MediaSample* sample);

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{};
    bool committed_ = false;
    int outstanding_ = 0;
    std::vector<uint8_t> memory_;
    std::vector<std::unique_ptr<MediaSample>> samples_;
    std::vector<MediaSample*> free_;
};

} // namespace tavrin::record
