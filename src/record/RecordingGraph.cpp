// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/RecordingGraph.h"

#include "record/MediaInterfaces.h"
#include "record/SourceStream.h"

#include <algorithm>

namespace tavrin::record {

namespace {

bool pinHasCategory(CSourceStream* pin, const GUID& category) {
    auto* props = dynamic_cast<IKsPropertySet*>(pin);
    GUID value;
    uint32_t returned = 0;
    return props &&
           props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &value, sizeof value,
                      &returned) == S_OK &&
           returned == sizeof value && value == category;
}

bool pinOffersMajorType(CSourceStream* pin, const GUID& majorType) {
    MediaType type;
    for (int32_t i = 0; pin->GetMediaType(i, &type) == S_OK; ++i)
        if (type.majortype == majorType)
            return true;
    return false;
}

} // namespace

RecordingGraph::RecordingGraph(MediaPlatform* platform, std::shared_ptr<ReferenceClock> clock)
    : platform_(platform), clock_(std::move(clock)) {}

RecordingGraph::~RecordingGraph() {
    Stop();
    for (auto& filter : filters_) {
        for (int i = 0; i < filter->GetPinCount(); ++i)
            filter->GetPin(i)->Disconnect();
        filter->JoinFilterGraph(nullptr, {});
        filter->SetSyncSource(nullptr);
    }
    if (sink_)
        sink_->setNotify(nullptr);
}

base::Error RecordingGraph::SetOutputFileName(const GUID& type, const std::string& fileName,
                                              std::shared_ptr<RecordingSink>* mux) {
    if (!mux || !platform_ || sink_ || !(type == MEDIASUBTYPE_Avi))
        return base::Error::status(E_INVALIDARG, "The file could not be created.");
    auto made = platform_->CreateAviMux(fileName);
    if (!made)
        return made.error();
    sink_ = *made;
    sink_->setNotify([this](int32_t code, const base::Error& error) { Notify(code, error); });
    *mux = sink_;
    return {};
}

HRESULT RecordingGraph::AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name) {
    if (!filter)
        return E_POINTER;
    if (std::find(filters_.begin(), filters_.end(), filter) != filters_.end())
        return VFW_E_WRONG_STATE;
    filters_.push_back(filter);
    filter->JoinFilterGraph(this, name);
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
        CSourceStream* pin = source->GetPin(i);
        if (pin->IsConnected() || (category && !pinHasCategory(pin, *category)) ||
            !pinOffersMajorType(pin, *majorType))
            continue;
        SampleReceiver* in = sink->inputFor(*majorType, intermediate);
        return in ? ConnectDirect(pin, in, nullptr) : VFW_E_CANNOT_CONNECT;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT RecordingGraph::ConnectDirect(CSourceStream* out, SampleReceiver* in, const MediaType* type) {
    if (!out || !in)
        return E_POINTER;
    return state_ == State_Stopped ? out->Connect(in, type) : VFW_E_NOT_STOPPED;
}

HRESULT RecordingGraph::Run() {
    if (state_ == State_Running)
        return S_OK;
    if (sink_ && !sinkStarted_) {
        if (HRESULT hr = sink_->start(); FAILED(hr))
            return hr;
        sinkStarted_ = true;
    }
    // Every filter is paused (its threads started) before the clock starts for any.
    for (auto& filter : filters_)
        if (HRESULT hr = filter->Pause(); FAILED(hr))
            return hr;
    const REFERENCE_TIME start = clock_ ? clock_->GetTime() : 0;
    for (auto& filter : filters_)
        if (HRESULT hr = filter->Run(start); FAILED(hr))
            return hr;
    state_ = State_Running;
    return S_OK;
}

HRESULT RecordingGraph::Stop() {
    // The sources end their streams first, so that all they delivered reaches the file.
    HRESULT result = S_OK;
    for (auto& filter : filters_)
        if (HRESULT hr = filter->Stop(); FAILED(hr) && SUCCEEDED(result))
            result = hr;
    if (sinkStarted_) {
        sinkStarted_ = false;
        if (HRESULT hr = sink_->stop(); FAILED(hr) && SUCCEEDED(result))
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

void RecordingGraph::Notify(int32_t code, const base::Error& error) {
    std::lock_guard lk(eventMutex_);
    if (events_.size() < 64)
        events_.push_back({code, error});
}

} // namespace tavrin::record
