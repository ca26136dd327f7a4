// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseFilter.h"

#include "record/RecordingGraph.h"
#include "record/SourceStream.h"

namespace tavrin::record {

HRESULT BaseFilter::Stop() {
    std::lock_guard lk(lock_);
    HRESULT result = S_OK;
    if (state_.load() != State_Stopped)
        for (CSourceStream* pin : pins_)
            if (HRESULT hr = pin->Inactive(); FAILED(hr) && SUCCEEDED(result))
                result = hr;
    state_.store(State_Stopped);
    return result;
}

HRESULT BaseFilter::Pause() {
    std::lock_guard lk(lock_);
    if (state_.load() == State_Stopped)
        for (CSourceStream* pin : pins_)
            if (HRESULT hr = pin->Active(); FAILED(hr))
                return hr;
    state_.store(State_Paused);
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    std::lock_guard lk(lock_);
    if (HRESULT hr = state_.load() == State_Stopped ? Pause() : S_OK; FAILED(hr))
        return hr;
    tStart_.store(start);
    state_.store(State_Running);
    return S_OK;
}

HRESULT BaseFilter::GetState(uint32_t, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_.load();
    return S_OK;
}

HRESULT BaseFilter::StreamTime(REFERENCE_TIME& t) const {
    if (!clock_)
        return E_FAIL;
    t = clock_->GetTime() - tStart_.load();
    return S_OK;
}

void BaseFilter::JoinFilterGraph(RecordingGraph* graph, const std::string& name) {
    std::lock_guard lk(lock_);
    graph_ = graph;
    name_ = graph ? name : std::string();
}

void BaseFilter::NotifyEvent(int32_t code, const base::Error& error) {
    if (graph_)
        graph_->Notify(code, error);
}

} // namespace tavrin::record
