// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/ReferenceClock.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::record {

class BaseInputPin;
class BaseOutputPin;

// Running, stopping and asking the state of a whole graph.
class IMediaControl {
  public:
    virtual ~IMediaControl() = default;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) = 0;
};

struct GraphEvent {
    int32_t code = 0;
    HRESULT result = S_OK;
    std::string text;
};

// What filters have reported; read by whoever drives the graph.
class IMediaEvent {
  public:
    virtual ~IMediaEvent() = default;
    // False when no event is waiting.
    virtual bool GetEvent(GraphEvent* event) = 0;
};

// The filters of one recording, their connections, one reference clock for all,
// and the order of state changes: downstream first on the way up (pause, run),
// upstream first on the way down (stop), so that data in flight reaches the file.
class FilterGraph : public IMediaControl, public IMediaEvent {
  public:
    explicit FilterGraph(std::shared_ptr<ReferenceClock> clock = std::make_shared<SystemReferenceClock>());
    ~FilterGraph() override;
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    HRESULT AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name);
    HRESULT RemoveFilter(BaseFilter* filter);
    BaseFilter* FindFilterByName(const std::string& name) const;
    std::vector<std::shared_ptr<BaseFilter>> filters() const;
    HRESULT ConnectDirect(BaseOutputPin* out, BaseInputPin* in, const MediaType* type);

    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) override;

    bool GetEvent(GraphEvent* event) override;
    // Called by filters, from any thread.
    void Notify(int32_t code, HRESULT result, const std::string& text);

    const std::shared_ptr<ReferenceClock>& clock() const { return clock_; }

  private:
    // Filters sorted so that every filter comes after those feeding it.
    std::vector<BaseFilter*> upstreamFirst() const;

    std::shared_ptr<ReferenceClock> clock_;
    std::vector<std::shared_ptr<BaseFilter>> filters_;
    FILTER_STATE state_ = State_Stopped;
    mutable std::mutex eventMutex_;
    std::deque<GraphEvent> events_;
};

} // namespace tavrin::record
