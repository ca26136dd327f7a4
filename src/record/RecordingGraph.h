// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
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

struct GraphEvent {
    int32_t code = 0;
    base::Error error;
};

// One recording: its named filters on one reference clock, the file (the sink) that
// every source pin feeds directly, and the order of state changes: the file's header
// before the sources start, the sources stopped before the file is completed. It is
// also the recording's media control (run, stop, state) and its event queue.
class RecordingGraph {
  public:
    // `platform` makes the file; without one only ConnectDirect connects.
    explicit RecordingGraph(MediaPlatform* platform,
                            std::shared_ptr<ReferenceClock> clock = std::make_shared<SystemReferenceClock>());
    ~RecordingGraph();
    RecordingGraph(const RecordingGraph&) = delete;
    RecordingGraph& operator=(const RecordingGraph&) = delete;

    // Creates the AVI file with its multiplexer, the sink of every stream.
    base::Error SetOutputFileName(const GUID& type, const std::string& fileName,
                                  std::shared_ptr<RecordingSink>* mux);
    const std::shared_ptr<RecordingSink>& sink() const { return sink_; }

    HRESULT AddFilter(std::shared_ptr<BaseFilter> filter, const std::string& name);
    BaseFilter* FindFilterByName(const std::string& name) const;
    // Connects the free output pin of `source` of that category and major type through
    // `intermediate` (if any) to a new input of `sink`.
    HRESULT RenderStream(const GUID* category, const GUID* majorType, BaseFilter* source,
                         BaseFilter* intermediate, RecordingSink* sink);
    HRESULT ConnectDirect(CSourceStream* out, SampleReceiver* in, const MediaType* type);

    HRESULT Run();
    HRESULT Stop();
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state);

    // False when no event is waiting.
    bool GetEvent(GraphEvent* event);
    // Called by filters and the sink, from any thread.
    void Notify(int32_t code, const base::Error& error);

  private:
    MediaPlatform* platform_;
    std::shared_ptr<ReferenceClock> clock_;
    std::vector<std::shared_ptr<BaseFilter>> filters_;
    std::shared_ptr<RecordingSink> sink_;
    FILTER_STATE state_ = State_Stopped;
    bool sinkStarted_ = false; // its header is written: it is to be completed at the stop
    std::mutex eventMutex_;
    std::deque<GraphEvent> events_;
};

} // namespace tavrin::record
