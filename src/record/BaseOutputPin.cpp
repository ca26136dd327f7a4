// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseOutputPin.h"

#include "record/BaseFilter.h"

#include <algorithm>

namespace tavrin::record {

BaseOutputPin::BaseOutputPin(BaseFilter* filter, std::string name)
    : filter_(filter), lock_(filter->pStateLock()), name_(std::move(name)) {}

HRESULT BaseOutputPin::SetMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    mt_ = *type;
    return S_OK;
}

HRESULT BaseOutputPin::Connect(SampleReceiver* receiver, const MediaType* type) {
    if (!receiver)
        return E_POINTER;
    std::lock_guard lk(*lock_);
    if (connected_)
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped())
        return VFW_E_NOT_STOPPED;
    auto attempt = [&](const MediaType& candidate) -> HRESULT {
        if (CheckMediaType(&candidate) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
        HRESULT hr = SetMediaType(&candidate);
        ALLOCATOR_PROPERTIES props{};
        receiver->GetAllocatorRequirements(&props);
        props.cbAlign = std::max(props.cbAlign, 1);
        auto allocator = std::make_shared<MemAllocator>();
        if (SUCCEEDED(hr))
            hr = DecideBufferSize(allocator.get(), &props);
        if (SUCCEEDED(hr))
            hr = receiver->ReceiveConnection(mt_);
        if (FAILED(hr)) {
            mt_ = MediaType{};
            return hr;
        }
        allocator_ = std::move(allocator);
        connected_ = receiver;
        return S_OK;
    };
    if (type)
        return attempt(*type);
    MediaType candidate;
    for (int32_t i = 0; GetMediaType(i, &candidate) == S_OK; ++i)
        if (SUCCEEDED(attempt(candidate)))
            return S_OK;
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

void BaseOutputPin::Disconnect() {
    std::lock_guard lk(*lock_);
    if (allocator_)
        allocator_->Decommit();
    allocator_.reset();
    connected_ = nullptr;
    mt_ = MediaType{};
}

HRESULT BaseOutputPin::Active() {
    return allocator_ ? allocator_->Commit() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::Inactive() {
    return allocator_ ? allocator_->Decommit() : VFW_E_NOT_CONNECTED;
}

} // namespace tavrin::record
