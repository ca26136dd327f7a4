// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MemAllocator.h"

namespace tavrin::record {

HRESULT MemAllocator::SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual)
        return E_POINTER;
    std::lock_guard lk(mutex_);
    if (committed_ || outstanding_ > 0)
        return VFW_E_WRONG_STATE;
    const int32_t align = request->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0)
        return E_INVALIDARG;
    const int64_t total =
        (static_cast<int64_t>(request->cbBuffer) + request->cbPrefix + align - 1) / align * align;
    if (total > INT32_MAX)
        return E_OUTOFMEMORY;
    props_ = *request;
    props_.cbBuffer = static_cast<int32_t>(total - request->cbPrefix);
    *actual = props_;
    return S_OK;
}

ALLOCATOR_PROPERTIES MemAllocator::properties() const {
    std::lock_guard lk(mutex_);
    return props_;
}

HRESULT MemAllocator::Commit() {
    std::lock_guard lk(mutex_);
    if (committed_)
        return S_OK;
    if (props_.cBuffers <= 0 || props_.cbBuffer <= 0 || outstanding_ > 0)
        return VFW_E_WRONG_STATE;
    // The samples lie one stride apart, each after its prefix, the first aligned.
    const std::size_t stride = static_cast<std::size_t>(props_.cbPrefix) + props_.cbBuffer;
    const std::size_t align = static_cast<std::size_t>(props_.cbAlign);
    free_.clear();
    samples_.clear();
    memory_.assign(stride * props_.cBuffers + align, 0);
    uint8_t* first = memory_.data() + (align - reinterpret_cast<uintptr_t>(memory_.data()) % align) % align;
    for (int i = 0; i < props_.cBuffers; ++i) {
        samples_.push_back(
            std::make_unique<MediaSample>(this, first + i * stride + props_.cbPrefix, props_.cbBuffer));
        free_.push_back(samples_.back().get());
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    std::lock_guard lk(mutex_);
    committed_ = false;
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
    s->actualLength_ = s->size_;
    s->start_ = s->end_ = 0;
    s->sync_ = false;
    sample->reset(s);
    return S_OK;
}

void MemAllocator::putBack(MediaSample* sample) {
    std::lock_guard lk(mutex_);
    --outstanding_;
    free_.push_back(sample);
    freed_.notify_one();
}

void SampleRelease::operator()(MediaSample* sample) const {
    if (sample)
        sample->owner_->putBack(sample);
}

} // namespace tavrin::record
