// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/FilterGraph.h"

#include "record/BaseInputPin.h"
#include "record/BaseOutputPin.h"

#include <algorithm>
#include <map>

namespace tavrin::record {

FilterGraph::FilterGraph(std::shared_ptr<ReferenceClock> clock) : clock_(std::move(clock)) {}

FilterGraph::~FilterGraph() {
    Stop();
    for (auto& filter : filters_) {
        for (int i = 0; i < filter->GetPinCount(); ++i) {
            BasePin* pin = filter->GetPin(i);
            if (pin && pin->IsConnected())
                pin->Disconnect();
        }
    }
    for (auto& filter : filters_) {
        filter->JoinFilterGraph(nullptr, {});
        filter->SetSyncSource(nullptr);
    }
}

HRESULT FilterGraph::AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name) {
    if (!filter)
        return E_POINTER;
    if (std::find(filters_.begin(), filters_.end(), filter) != filters_.end())
        return VFW_E_WRONG_STATE;
    std::string unique = name;
    for (int n = 2; FindFilterByName(unique); ++n)
        unique = name + " " + std::to_string(n);
    try {
        filters_.push_back(filter);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    filter->JoinFilterGraph(this, unique);
    filter->SetSyncSource(clock_);
    return S_OK;
}

HRESULT FilterGraph::RemoveFilter(BaseFilter* filter) {
    auto it = std::find_if(filters_.begin(), filters_.end(), [&](auto& f) { return f.get() == filter; });
    if (it == filters_.end())
        return VFW_E_NOT_FOUND;
    filter->Stop();
    for (int i = 0; i < filter->GetPinCount(); ++i) {
        BasePin* pin = filter->GetPin(i);
        if (pin && pin->IsConnected()) {
            pin->ConnectedTo()->Disconnect();
            pin->Disconnect();
        }
    }
    filter->JoinFilterGraph(nullptr, {});
    filters_.erase(it);
    return S_OK;
}

BaseFilter* FilterGraph::FindFilterByName(const std::string& name) const {
    for (auto& filter : filters_)
        if (filter->filterName() == name)
            return filter.get();
    return nullptr;
}

std::vector<std::shared_ptr<BaseFilter>> FilterGraph::filters() const {
    return filters_;
}

HRESULT FilterGraph::ConnectDirect(BaseOutputPin* out, BaseInputPin* in, const MediaType* type) {
    if (!out || !in)
        return E_POINTER;
    if (state_ != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return out->Connect(in, type);
}

std::vector<BaseFilter*> FilterGraph::upstreamFirst() const {
    // Count, for each filter, the connected input pins fed by filters of this graph.
    std::map<BaseFilter*, int> feeding;
    for (auto& f : filters_)
        feeding[f.get()] = 0;
    for (auto& f : filters_) {
        for (int i = 0; i < f->GetPinCount(); ++i) {
            BasePin* pin = f->GetPin(i);
            if (pin && pin->direction() == PINDIR_INPUT && pin->IsConnected() &&
                feeding.count(pin->ConnectedTo()->filter()))
                ++feeding[f.get()];
        }
    }
    std::vector<BaseFilter*> order;
    std::vector<BaseFilter*> ready;
    for (auto& f : filters_)
        if (feeding[f.get()] == 0)
            ready.push_back(f.get());
    while (!ready.empty()) {
        BaseFilter* f = ready.front();
        ready.erase(ready.begin());
        order.push_back(f);
        for (int i = 0; i < f->GetPinCount(); ++i) {
            BasePin* pin = f->GetPin(i);
            if (pin && pin->direction() == PINDIR_OUTPUT && pin->IsConnected()) {
                BaseFilter* next = pin->ConnectedTo()->filter();
                auto it = feeding.find(next);
                if (it != feeding.end() && --it->second == 0)
                    ready.push_back(next);
            }
        }
    }
    // A cycle cannot be built through these pins, but never lose a filter.
    for (auto& f : filters_)
        if (std::find(order.begin(), order.end(), f.get()) == order.end())
            order.push_back(f.get());
    return order;
}

HRESULT FilterGraph::Pause() {
    auto order = upstreamFirst();
    HRESULT result = S_OK;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        HRESULT hr = (*it)->Pause();
        if (FAILED(hr)) {
            result = hr;
            break;
        }
    }
    if (SUCCEEDED(result))
        state_ = State_Paused;
    return result;
}

HRESULT FilterGraph::Run() {
    if (state_ == State_Running)
        return S_OK;
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    const REFERENCE_TIME start = clock_ ? clock_->GetTime() : 0;
    auto order = upstreamFirst();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        HRESULT hr = (*it)->Run(start);
        if (FAILED(hr))
            return hr;
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::Stop() {
    HRESULT result = S_OK;
    for (BaseFilter* f : upstreamFirst()) {
        HRESULT hr = f->Stop();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    state_ = State_Stopped;
    return result;
}

HRESULT FilterGraph::GetState(uint32_t, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

bool FilterGraph::GetEvent(GraphEvent* event) {
    std::lock_guard lk(eventMutex_);
    if (events_.empty())
        return false;
    if (event)
        *event = std::move(events_.front());
    events_.pop_front();
    return true;
}

void FilterGraph::Notify(int32_t code, HRESULT result, const std::string& text) {
    std::lock_guard lk(eventMutex_);
    if (events_.size() < 64)
        events_.push_back({code, result, text});
}

} // namespace tavrin::record
