// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MemAllocator.h"

#include <cassert>
#include <new>

namespace tavrin::record {

MemAllocator::~MemAllocator() {
    std::lock_guard lk(mutex_);
    assert(outstanding_ == 0 && "a sample outlived its allocator");
    freeMemoryLocked();
}

HRESULT MemAllocator::SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual)
        return E_POINTER;
    std::lock_guard lk(mutex_);
    if (committed_)
        return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0)
        return VFW_E_ALREADY_COMMITTED;
    const int32_t align = request->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0)
        return E_INVALIDARG;
    int64_t total = static_cast<int64_t>(request->cbBuffer) + request->cbPrefix;
    if (total % align)
        total += align - total % align;
    if (total > INT32_MAX)
        return E_OUTOFMEMORY;
    props_ = *request;
    props_.cbBuffer = static_cast<int32_t>(total - request->cbPrefix);
    propsSet_ = true;
    *actual = props_;
    return S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
    if (!properties)
        return E_POINTER;
    std::lock_guard lk(mutex_);
    *properties = props_;
    return S_OK;
}

HRESULT MemAllocator::Commit() {
    std::lock_guard lk(mutex_);
    if (committed_)
        return S_OK;
    if (!propsSet_ || props_.cBuffers <= 0 || props_.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    if (outstanding_ > 0)
        return VFW_E_ALREADY_COMMITTED; // still draining from the last run
    freeMemoryLocked();
    const std::size_t stride =
        static_cast<std::size_t>(props_.cbPrefix) + static_cast<std::size_t>(props_.cbBuffer);
    const std::size_t align = static_cast<std::size_t>(props_.cbAlign);
    memory_.reset(new (std::nothrow) uint8_t[stride * props_.cBuffers + align]);
    if (!memory_)
        return E_OUTOFMEMORY;
    auto base = reinterpret_cast<uintptr_t>(memory_.get());
    uint8_t* first = memory_.get() + ((align - base % align) % align);
    try {
        for (int i = 0; i < props_.cBuffers; ++i) {
            samples_.push_back(std::make_unique<MediaSample>(this, first + i * stride + props_.cbPrefix,
                                                             props_.cbBuffer, props_.cbPrefix));
            free_.push_back(samples_.back().get());
        }
    } catch (const std::bad_alloc&) {
        freeMemoryLocked();
        return E_OUTOFMEMORY;
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    std::lock_guard lk(mutex_);
    committed_ = false;
    if (outstanding_ == 0)
        freeMemoryLocked();
    freed_.notify_all();
    return S_OK;
}

HRESULT MemAllocator::GetBuffer(SamplePtr* sample) {
    if (!sample)
        return E_POINTER;
    std::unique_lock lk(mutex_);
    freed_.wait(lk, [&] { return !committed_ || !free_.empty(); });
    if (!committed_)
        return VFW_E_NOT_COMMITTED;
    MediaSample* s = free_.back();
    free_.pop_back();
    ++outstanding_;
    s->reset();
    sample->reset(s);
    return S_OK;
}

void MemAllocator::releaseSample(MediaSample* sample) {
    sample->owner_->putBack(sample);
}

void MemAllocator::putBack(MediaSample* sample) {
    std::lock_guard lk(mutex_);
    --outstanding_;
    free_.push_back(sample);
    if (!committed_ && outstanding_ == 0)
        freeMemoryLocked();
    freed_.notify_one();
}

void MemAllocator::freeMemoryLocked() {
    free_.clear();
    samples_.clear();
    memory_.reset();
}

} // namespace tavrin::record
