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
#ifndef VFW_E_ALREADY_COMMITTED
constexpr HRESULT VFW_E_ALREADY_COMMITTED = static_cast<HRESULT>(0x8004020Fu);
#endif
#ifndef VFW_E_SIZENOTSET
constexpr HRESULT VFW_E_SIZENOTSET = static_cast<HRESULT>(0x80040212u);
#endif

// A fixed set of equal buffers, agreed between an output pin and an input pin.
// GetBuffer blocks until a buffer is free, so a slow consumer holds its producer back.
class MemAllocator {
  public:
    MemAllocator() = default;
    virtual ~MemAllocator();
    MemAllocator(const MemAllocator&) = delete;
    MemAllocator& operator=(const MemAllocator&) = delete;

    // Rounds the buffer size so that prefix + buffer is a multiple of the alignment.
    virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual);
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties);
    // Allocates the buffers; GetBuffer works only while committed.
    virtual HRESULT Commit();
    // Wakes every waiter with VFW_E_NOT_COMMITTED; memory goes when the last sample returns.
    virtual HRESULT Decommit();
    virtual HRESULT GetBuffer(SamplePtr* sample);

  private:
    friend struct SampleRelease;
    static void releaseSample(MediaSample* sample);
    void putBack(MediaSample* sample);
    void freeMemoryLocked();

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{};
    bool propsSet_ = false;
    bool committed_ = false;
    int outstanding_ = 0;
    std::unique_ptr<uint8_t[]> memory_;
    std::vector<std::unique_ptr<MediaSample>> samples_;
    std::vector<MediaSample*> free_;
};

} // namespace tavrin::record
