// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "record/BaseFilter.h"
#include "record/MediaSample.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace tavrin::record {

// An output pin with a streaming thread of its own. While the filter is paused or
// running the thread asks FillBuffer for sample after sample and delivers them;
// FillBuffer's S_FALSE ends the stream with end-of-stream.
class CSourceStream : public BaseOutputPin {
  public:
    // How long a stop waits for a stream that ends by itself (see endsByItself).
    static constexpr std::chrono::milliseconds kEndWait{1000};

    // Adds itself to `filter`'s pins. The streaming thread is called `threadName`.
    CSourceStream(CSource* filter, std::string name, std::string threadName);
    ~CSourceStream() override;

    // Starts the thread; returns once it has started play, so that nothing the caller
    // does afterwards is undone by OnThreadStartPlay.
    HRESULT Active() override;
    // Ends the thread: a stream that ends by itself is given kEndWait to deliver
    // what it holds first.
    HRESULT Inactive() override;
    bool ThreadExists() const { return worker_.started(); }

  protected:
    // Thread side, all called on the streaming thread.
    virtual HRESULT FillBuffer(MediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    // True when the stream is about to end with S_FALSE of its own (its end is on the way).
    virtual bool endsByItself() const { return false; }
    // The filter is stopping: a FillBuffer that waits for data should return.
    bool stopping() const { return stopping_.load(); }

  private:
    void ThreadProc(const base::WorkerControl& control);
    // Sample after sample until the stream ends or the filter stops.
    void DoBufferProcessingLoop();

    std::string threadName_;
    base::Worker worker_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool playing_ = false; // OnThreadCreate and OnThreadStartPlay are done
    HRESULT startResult_ = S_OK;
    bool loopEnded_ = false;
};

} // namespace tavrin::record
