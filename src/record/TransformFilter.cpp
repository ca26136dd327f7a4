// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/TransformFilter.h"

namespace tavrin::record {

TransformInputPin::TransformInputPin(TransformFilter* filter, std::recursive_mutex* lock)
    : BaseInputPin(filter, lock, "XForm In"), transform_(filter) {}

HRESULT TransformInputPin::CheckMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    return transform_->CheckInputType(type);
}

HRESULT TransformInputPin::Receive(MediaSample* sample) {
    HRESULT hr = BaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    std::lock_guard lk(transform_->receiveLock_);
    if (!transform_->output().IsConnected())
        return VFW_E_NOT_CONNECTED;
    return transform_->Transform(sample);
}

HRESULT TransformInputPin::EndOfStream() {
    std::lock_guard lk(transform_->receiveLock_);
    return transform_->EndOfStream();
}

HRESULT TransformInputPin::CompleteConnect(BasePin* receivePin) {
    return transform_->CompleteConnect(PINDIR_INPUT, receivePin);
}

HRESULT TransformInputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_INPUT);
    return BaseInputPin::BreakConnect();
}

TransformOutputPin::TransformOutputPin(TransformFilter* filter, std::recursive_mutex* lock)
    : BaseOutputPin(filter, lock, "XForm Out"), transform_(filter) {}

HRESULT TransformOutputPin::CheckMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    if (!transform_->input().IsConnected())
        return VFW_E_NOT_CONNECTED;
    return transform_->CheckTransform(&transform_->input().connectionType(), type);
}

HRESULT TransformOutputPin::GetMediaType(int32_t position, MediaType* type) {
    if (position < 0)
        return E_INVALIDARG;
    if (!transform_->input().IsConnected())
        return VFW_E_NOT_CONNECTED;
    return transform_->GetOutputType(position, type);
}

HRESULT TransformOutputPin::DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
    if (!allocator || !properties)
        return E_POINTER;
    return transform_->DecideBufferSize(allocator, properties);
}

HRESULT TransformOutputPin::CompleteConnect(BasePin* receivePin) {
    HRESULT hr = BaseOutputPin::CompleteConnect(receivePin);
    if (FAILED(hr))
        return hr;
    return transform_->CompleteConnect(PINDIR_OUTPUT, receivePin);
}

HRESULT TransformOutputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_OUTPUT);
    return BaseOutputPin::BreakConnect();
}

TransformFilter::TransformFilter(const GUID& clsid)
    : BaseFilter(clsid, &filterLock_), input_(this, &filterLock_),
      output_(std::make_unique<TransformOutputPin>(this, &filterLock_)) {}

TransformFilter::~TransformFilter() = default;

BasePin* TransformFilter::GetPin(int n) {
    if (n == 0)
        return &input_;
    if (n == 1)
        return output_.get();
    return nullptr;
}

HRESULT TransformFilter::Pause() {
    std::lock_guard lk(filterLock_);
    if (state_.load() == State_Stopped && input_.IsConnected() && output_->IsConnected()) {
        HRESULT hr = StartStreaming();
        if (FAILED(hr))
            return hr;
        streaming_ = true;
    }
    return BaseFilter::Pause();
}

HRESULT TransformFilter::Stop() {
    std::lock_guard lk(filterLock_);
    // Waits for a sample in progress on the upstream thread.
    std::lock_guard receive(receiveLock_);
    // Streaming stops while the output is still active, so that a filter holding
    // data (an encoder's delayed frames) can hand it downstream: the graph stops
    // upstream first, and a stream need not have ended with end-of-stream.
    if (streaming_) {
        StopStreaming();
        streaming_ = false;
    }
    return BaseFilter::Stop();
}

HRESULT TransformFilter::EndOfStream() {
    if (!output_->IsConnected())
        return S_OK;
    return output_->DeliverEndOfStream();
}

} // namespace tavrin::record
