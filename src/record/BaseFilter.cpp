// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BaseFilter.h"

#include "record/RecordingGraph.h"

namespace tavrin::record {

BaseFilter::BaseFilter(const GUID& clsid, std::recursive_mutex* lock) : lock_(lock), clsid_(clsid) {}

HRESULT BaseFilter::Stop() {
    std::lock_guard lk(*lock_);
    HRESULT result = S_OK;
    if (state_.load() != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            BaseOutputPin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result))
                    result = hr;
            }
        }
    }
    state_.store(State_Stopped);
    return result;
}

HRESULT BaseFilter::Pause() {
    std::lock_guard lk(*lock_);
    if (state_.load() == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            BaseOutputPin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    state_.store(State_Paused);
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    std::lock_guard lk(*lock_);
    if (state_.load() == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
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

HRESULT BaseFilter::SetSyncSource(std::shared_ptr<ReferenceClock> clock) {
    std::lock_guard lk(*lock_);
    clock_ = std::move(clock);
    return S_OK;
}

HRESULT BaseFilter::StreamTime(REFERENCE_TIME& t) {
    if (!clock_)
        return VFW_E_NO_CLOCK;
    t = clock_->GetTime() - tStart_.load();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(RecordingGraph* graph, const std::string& name) {
    std::lock_guard lk(*lock_);
    graph_ = graph;
    name_ = graph ? name : std::string();
    return S_OK;
}

void BaseFilter::NotifyEvent(int32_t code, HRESULT hr, const std::string& text) {
    if (graph_)
        graph_->Notify(code, hr, text);
}

} // namespace tavrin::record
