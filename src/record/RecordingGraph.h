// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/MediaPlatform.h"
#include "record/RecordingSink.h"
#include "record/ReferenceClock.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::record {

// Running, stopping and asking the state of a whole recording.
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

// What the filters and the sink have reported; read by whoever drives the recording.
class IMediaEvent {
  public:
    virtual ~IMediaEvent() = default;
    // False when no event is waiting.
    virtual bool GetEvent(GraphEvent* event) = 0;
};

// One recording: its named filters on one reference clock, the file (the sink) that
// every source pin feeds directly, and the order of state changes: the file's header
// before the sources start, the sources stopped before the file is completed.
class RecordingGraph : public IMediaControl, public IMediaEvent {
  public:
    // `platform` makes the file; without one only ConnectDirect connects.
    explicit RecordingGraph(MediaPlatform* platform,
                            std::shared_ptr<ReferenceClock> clock = std::make_shared<SystemReferenceClock>());
    ~RecordingGraph() override;
    RecordingGraph(const RecordingGraph&) = delete;
    RecordingGraph& operator=(const RecordingGraph&) = delete;

    // Creates the AVI file with its multiplexer, the sink of every stream.
    HRESULT SetOutputFileName(const GUID& type, const std::string& fileName,
                              std::shared_ptr<RecordingSink>* mux);
    // Why the last SetOutputFileName failed, for the user.
    const std::string& lastError() const { return lastError_; }
    const std::shared_ptr<RecordingSink>& sink() const { return sink_; }

    HRESULT AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name);
    BaseFilter* FindFilterByName(const std::string& name) const;
    // Connects the free output pin of `source` of that category and major type through
    // `intermediate` (if any) to a new input of `sink`.
    HRESULT RenderStream(const GUID* category, const GUID* majorType, BaseFilter* source,
                         BaseFilter* intermediate, RecordingSink* sink);
    HRESULT ConnectDirect(BaseOutputPin* out, SampleReceiver* in, const MediaType* type);

    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) override;

    bool GetEvent(GraphEvent* event) override;
    // Called by filters and the sink, from any thread.
    void Notify(int32_t code, HRESULT result, const std::string& text);

    const std::shared_ptr<ReferenceClock>& clock() const { return clock_; }

  private:
    MediaPlatform* platform_;
    std::shared_ptr<ReferenceClock> clock_;
    std::vector<std::shared_ptr<BaseFilter>> filters_;
    std::shared_ptr<RecordingSink> sink_;
    std::string lastError_;
    FILTER_STATE state_ = State_Stopped;
    bool sinkStarted_ = false; // its header is written: it is to be completed at the stop
    mutable std::mutex eventMutex_;
    std::deque<GraphEvent> events_;
};

} // namespace tavrin::record
