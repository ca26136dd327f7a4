// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseOutputPin.h"

#include "record/BaseFilter.h"

namespace tavrin::record {

BaseOutputPin::BaseOutputPin(BaseFilter* filter, std::recursive_mutex* lock, std::string name)
    : filter_(filter), lock_(lock), name_(std::move(name)) {}

HRESULT BaseOutputPin::ConnectionMediaType(MediaType* type) const {
    if (!type)
        return E_POINTER;
    if (!connected_)
        return VFW_E_NOT_CONNECTED;
    *type = mt_;
    return S_OK;
}

HRESULT BaseOutputPin::GetMediaType(int32_t position, MediaType*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

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
        if (props.cbAlign == 0)
            props.cbAlign = 1;
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
    for (int32_t i = 0;; ++i) {
        MediaType candidate;
        if (GetMediaType(i, &candidate) != S_OK)
            return VFW_E_NO_ACCEPTABLE_TYPES;
        if (SUCCEEDED(attempt(candidate)))
            return S_OK;
    }
}

HRESULT BaseOutputPin::Disconnect() {
    std::lock_guard lk(*lock_);
    if (!connected_)
        return S_FALSE;
    if (allocator_)
        allocator_->Decommit();
    allocator_.reset();
    connected_ = nullptr;
    mt_ = MediaType{};
    return S_OK;
}

HRESULT BaseOutputPin::Active() {
    if (!allocator_)
        return VFW_E_NOT_CONNECTED;
    return allocator_->Commit();
}

HRESULT BaseOutputPin::Inactive() {
    if (!allocator_)
        return VFW_E_NOT_CONNECTED;
    return allocator_->Decommit();
}

HRESULT BaseOutputPin::GetDeliveryBuffer(SamplePtr* sample) {
    if (!allocator_)
        return VFW_E_NOT_CONNECTED;
    return allocator_->GetBuffer(sample);
}

} // namespace tavrin::record
