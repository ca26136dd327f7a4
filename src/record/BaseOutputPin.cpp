// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseOutputPin.h"

#include "record/BaseFilter.h"

namespace tavrin::record {

BaseOutputPin::BaseOutputPin(BaseFilter* filter, std::recursive_mutex* lock, std::string name)
    : BasePin(filter, lock, std::move(name), PINDIR_OUTPUT) {}

HRESULT BaseOutputPin::Connect(BaseInputPin* receivePin, const MediaType* type) {
    if (!receivePin)
        return E_POINTER;
    std::lock_guard lk(*lock_);
    if (connected_ || receivePin->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (type)
        return AttemptConnection(receivePin, *type);

    for (BasePin* offering : {static_cast<BasePin*>(this), static_cast<BasePin*>(receivePin)}) {
        for (int32_t i = 0;; ++i) {
            MediaType candidate;
            if (offering->GetMediaType(i, &candidate) != S_OK)
                break;
            if (SUCCEEDED(AttemptConnection(receivePin, candidate)))
                return S_OK;
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT BaseOutputPin::AttemptConnection(BaseInputPin* receivePin, const MediaType& type) {
    if (CheckMediaType(&type) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    connected_ = receivePin;
    HRESULT hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, &type);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (SUCCEEDED(hr))
                return S_OK;
            receivePin->Disconnect();
        }
    }
    BreakConnect();
    connected_ = nullptr;
    mt_ = MediaType{};
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT BaseOutputPin::CompleteConnect(BasePin* receivePin) {
    return DecideAllocator(static_cast<BaseInputPin*>(receivePin));
}

HRESULT BaseOutputPin::DecideAllocator(BaseInputPin* receivePin) {
    ALLOCATOR_PROPERTIES props{};
    receivePin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0)
        props.cbAlign = 1;
    std::shared_ptr<MemAllocator> allocator = receivePin->GetAllocator();
    if (!allocator)
        return E_OUTOFMEMORY;
    HRESULT hr = DecideBufferSize(allocator.get(), &props);
    if (FAILED(hr))
        return hr;
    hr = receivePin->NotifyAllocator(allocator, false);
    if (FAILED(hr))
        return hr;
    allocator_ = std::move(allocator);
    inputPin_ = receivePin;
    return S_OK;
}

HRESULT BaseOutputPin::BreakConnect() {
    if (allocator_)
        allocator_->Decommit();
    allocator_.reset();
    inputPin_ = nullptr;
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

HRESULT BaseOutputPin::Deliver(MediaSample* sample) {
    if (!inputPin_)
        return VFW_E_NOT_CONNECTED;
    return inputPin_->Receive(sample);
}

HRESULT BaseOutputPin::DeliverEndOfStream() {
    if (!inputPin_)
        return VFW_E_NOT_CONNECTED;
    return inputPin_->EndOfStream();
}

} // namespace tavrin::record
