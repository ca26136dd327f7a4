// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseOutputPin.h"
#include "record/MediaTypes.h"
#include "record/ReferenceClock.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace tavrin::record {

class RecordingGraph;

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

#ifndef VFW_E_NO_CLOCK
constexpr HRESULT VFW_E_NO_CLOCK = static_cast<HRESULT>(0x80040213u);
#endif

// A filter of the recording: its output pins (none for a compressor), the three
// states, and the graph's clock for stream time. Filters are shared (reference counted).
class BaseFilter {
  public:
    BaseFilter(const GUID& clsid, std::recursive_mutex* lock);
    virtual ~BaseFilter() = default;
    BaseFilter(const BaseFilter&) = delete;
    BaseFilter& operator=(const BaseFilter&) = delete;

    virtual int GetPinCount() { return 0; }
    virtual BaseOutputPin* GetPin(int) { return nullptr; }

    // Stop makes every pin inactive; Pause (from stopped) makes the connected pins active;
    // Run pauses first if needed and records the start time.
    virtual HRESULT Stop();
    virtual HRESULT Pause();
    virtual HRESULT Run(REFERENCE_TIME start);
    virtual HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state);

    virtual HRESULT SetSyncSource(std::shared_ptr<ReferenceClock> clock);
    // Clock time minus the run start time; VFW_E_NO_CLOCK without a clock.
    HRESULT StreamTime(REFERENCE_TIME& t);
    // The clock time at which the filter started running.
    REFERENCE_TIME startTime() const { return tStart_.load(); }
    std::shared_ptr<ReferenceClock> syncSource() const { return clock_; }
    virtual HRESULT JoinFilterGraph(RecordingGraph* graph, const std::string& name);

    RecordingGraph* graph() const { return graph_; }
    const std::string& filterName() const { return name_; }
    const GUID& clsid() const { return clsid_; }
    FILTER_STATE state() const { return state_.load(); }
    bool IsStopped() const { return state_.load() == State_Stopped; }
    bool IsActive() const { return state_.load() != State_Stopped; }
    std::recursive_mutex* pStateLock() const { return lock_; }

    // Tells the graph that something happened (EC_ERRORABORT with a reason for the user).
    void NotifyEvent(int32_t code, HRESULT hr, const std::string& text);

  protected:
    std::recursive_mutex* lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::atomic<REFERENCE_TIME> tStart_{0};
    std::shared_ptr<ReferenceClock> clock_;
    RecordingGraph* graph_ = nullptr;
    std::string name_;
    GUID clsid_;
};

} // namespace tavrin::record
