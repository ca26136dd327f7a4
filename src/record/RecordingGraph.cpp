// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/RecordingGraph.h"

#include "record/MediaInterfaces.h"

#include <algorithm>

namespace tavrin::record {

namespace {

bool pinHasCategory(BaseOutputPin* pin, const GUID& category) {
    auto* props = dynamic_cast<IKsPropertySet*>(pin);
    GUID value;
    uint32_t returned = 0;
    return props &&
           props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &value, sizeof value,
                      &returned) == S_OK &&
           returned == sizeof value && value == category;
}

bool pinOffersMajorType(BaseOutputPin* pin, const GUID& majorType) {
    for (int32_t i = 0;; ++i) {
        MediaType type;
        if (pin->GetMediaType(i, &type) != S_OK)
            return false;
        if (type.majortype == majorType)
            return true;
    }
}

} // namespace

RecordingGraph::RecordingGraph(MediaPlatform* platform, std::shared_ptr<ReferenceClock> clock)
    : platform_(platform), clock_(std::move(clock)) {}

RecordingGraph::~RecordingGraph() {
    Stop();
    for (auto& filter : filters_) {
        for (int i = 0; i < filter->GetPinCount(); ++i)
            if (BaseOutputPin* pin = filter->GetPin(i))
                pin->Disconnect();
        filter->JoinFilterGraph(nullptr, {});
        filter->SetSyncSource(nullptr);
    }
    if (sink_)
        sink_->setNotify(nullptr);
}

HRESULT RecordingGraph::SetOutputFileName(const GUID& type, const std::string& fileName,
                                          std::shared_ptr<RecordingSink>* mux) {
    lastError_.clear();
    if (!mux)
        return E_POINTER;
    if (!platform_ || sink_)
        return E_UNEXPECTED;
    if (!(type == MEDIASUBTYPE_Avi))
        return E_INVALIDARG;
    std::shared_ptr<RecordingSink> sink;
    HRESULT hr = platform_->CreateAviMux(fileName, &sink, &lastError_);
    if (FAILED(hr))
        return hr;
    if (!sink)
        return E_FAIL;
    sink->setNotify(
        [this](int32_t code, HRESULT result, const std::string& text) { Notify(code, result, text); });
    sink_ = sink;
    *mux = std::move(sink);
    return S_OK;
}

HRESULT RecordingGraph::AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name) {
    if (!filter)
        return E_POINTER;
    if (std::find(filters_.begin(), filters_.end(), filter) != filters_.end())
        return VFW_E_WRONG_STATE;
    std::string unique = name;
    for (int n = 2; FindFilterByName(unique); ++n)
        unique = name + " " + std::to_string(n);
    filters_.push_back(filter);
    filter->JoinFilterGraph(this, unique);
    filter->SetSyncSource(clock_);
    return S_OK;
}

BaseFilter* RecordingGraph::FindFilterByName(const std::string& name) const {
    for (auto& filter : filters_)
        if (filter->filterName() == name)
            return filter.get();
    return nullptr;
}

HRESULT RecordingGraph::RenderStream(const GUID* category, const GUID* majorType, BaseFilter* source,
                                     BaseFilter* intermediate, RecordingSink* sink) {
    if (!source || !sink || !majorType)
        return E_POINTER;
    for (int i = 0; i < source->GetPinCount(); ++i) {
        BaseOutputPin* pin = source->GetPin(i);
        if (!pin || pin->IsConnected() || (category && !pinHasCategory(pin, *category)) ||
            !pinOffersMajorType(pin, *majorType))
            continue;
        SampleReceiver* in = sink->inputFor(*majorType, intermediate);
        return in ? ConnectDirect(pin, in, nullptr) : VFW_E_CANNOT_CONNECT;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT RecordingGraph::ConnectDirect(BaseOutputPin* out, SampleReceiver* in, const MediaType* type) {
    if (!out || !in)
        return E_POINTER;
    if (state_ != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return out->Connect(in, type);
}

HRESULT RecordingGraph::Pause() {
    if (state_ == State_Stopped && sink_ && !sinkStarted_) {
        HRESULT hr = sink_->start();
        if (FAILED(hr))
            return hr;
        sinkStarted_ = true;
    }
    for (auto& filter : filters_) {
        HRESULT hr = filter->Pause();
        if (FAILED(hr))
            return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT RecordingGraph::Run() {
    if (state_ == State_Running)
        return S_OK;
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    const REFERENCE_TIME start = clock_ ? clock_->GetTime() : 0;
    for (auto& filter : filters_) {
        HRESULT hr = filter->Run(start);
        if (FAILED(hr))
            return hr;
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT RecordingGraph::Stop() {
    // The sources end their streams first, so that all they delivered reaches the file.
    HRESULT result = S_OK;
    for (auto& filter : filters_) {
        HRESULT hr = filter->Stop();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    if (sinkStarted_) {
        sinkStarted_ = false;
        HRESULT hr = sink_->stop();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    state_ = State_Stopped;
    return result;
}

HRESULT RecordingGraph::GetState(uint32_t, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

bool RecordingGraph::GetEvent(GraphEvent* event) {
    std::lock_guard lk(eventMutex_);
    if (events_.empty())
        return false;
    if (event)
        *event = std::move(events_.front());
    events_.pop_front();
    return true;
}

void RecordingGraph::Notify(int32_t code, HRESULT result, const std::string& text) {
    std::lock_guard lk(eventMutex_);
    if (events_.size() < 64)
        events_.push_back({code, result, text});
}

} // namespace tavrin::record
