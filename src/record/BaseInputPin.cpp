// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseInputPin.h"

#include "record/BaseFilter.h"

namespace tavrin::record {

BaseInputPin::BaseInputPin(BaseFilter* filter, std::recursive_mutex* lock, std::string name)
    : BasePin(filter, lock, std::move(name), PINDIR_INPUT) {}

HRESULT BaseInputPin::ReceiveConnection(BasePin* connector, const MediaType* type) {
    if (!connector || !type)
        return E_POINTER;
    std::lock_guard lk(*lock_);
    if (connected_)
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (connector->direction() == direction_)
        return VFW_E_CANNOT_CONNECT;
    if (CheckMediaType(type) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    connected_ = connector;
    HRESULT hr = SetMediaType(type);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        Disconnect();
        return hr;
    }
    return S_OK;
}

HRESULT BaseInputPin::Receive(MediaSample* sample) {
    if (!sample)
        return E_POINTER;
    if (filter_->IsStopped())
        return VFW_E_WRONG_STATE;
    return S_OK;
}

HRESULT BaseInputPin::EndOfStream() {
    return S_OK;
}

HRESULT BaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

std::shared_ptr<MemAllocator> BaseInputPin::GetAllocator() {
    if (!allocator_)
        allocator_ = std::make_shared<MemAllocator>();
    return allocator_;
}

HRESULT BaseInputPin::NotifyAllocator(std::shared_ptr<MemAllocator> allocator, bool) {
    if (!allocator)
        return E_POINTER;
    allocator_ = std::move(allocator);
    return S_OK;
}

HRESULT BaseInputPin::BreakConnect() {
    allocator_.reset();
    return S_OK;
}

} // namespace tavrin::record
