// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "record/MediaTypes.h"
#include "record/ReferenceClock.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::record {

class CSourceStream;
class RecordingGraph;

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

// A filter of the recording: its output pins (none for a compressor), the three
// states, and the graph's clock for stream time. Filters are shared (reference counted).
class BaseFilter {
  public:
    // Only a filter that other programs know by its class id needs to give one.
    explicit BaseFilter(const GUID& clsid = {}) : clsid_(clsid) {}
    virtual ~BaseFilter() = default;
    BaseFilter(const BaseFilter&) = delete;
    BaseFilter& operator=(const BaseFilter&) = delete;

    int GetPinCount() const { return static_cast<int>(pins_.size()); }
    CSourceStream* GetPin(int n) const { return n >= 0 && n < GetPinCount() ? pins_[n] : nullptr; }

    // Stop makes every pin inactive; Pause (from stopped) makes them active;
    // Run pauses first if needed and records the start time.
    virtual HRESULT Stop();
    HRESULT Pause();
    HRESULT Run(REFERENCE_TIME start);
    virtual HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state);

    void SetSyncSource(std::shared_ptr<ReferenceClock> clock) { clock_ = std::move(clock); }
    // Clock time minus the run start time; E_FAIL without a clock.
    HRESULT StreamTime(REFERENCE_TIME& t) const;
    void JoinFilterGraph(RecordingGraph* graph, const std::string& name);

    const std::string& filterName() const { return name_; }
    const GUID& clsid() const { return clsid_; }
    FILTER_STATE state() const { return state_.load(); }
    bool IsStopped() const { return state_.load() == State_Stopped; }
    std::recursive_mutex* pStateLock() { return &lock_; }

    // Tells the graph that something happened (EC_ERRORABORT with a reason for the user).
    void NotifyEvent(int32_t code, const base::Error& error);

  protected:
    friend class CSourceStream;
    std::recursive_mutex lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::atomic<REFERENCE_TIME> tStart_{0};
    std::shared_ptr<ReferenceClock> clock_;
    RecordingGraph* graph_ = nullptr;
    std::string name_;
    GUID clsid_;
    std::vector<CSourceStream*> pins_;
};

// A filter whose pins are source streams (CSourceStream), each with a thread of its own.
class CSource : public BaseFilter {
  public:
    using BaseFilter::BaseFilter;
};

} // namespace tavrin::record
