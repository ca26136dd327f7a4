// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "record/BaseFilter.h"
#include "record/MediaSample.h"
#include "record/MemAllocator.h"
#include "record/SampleReceiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace tavrin::record {

// An output pin with a streaming thread of its own. It agrees a media type and its
// buffers with the receiver of its samples, and owns the one allocator between them.
// While the filter is paused or running the thread asks FillBuffer for sample after
// sample and delivers them; FillBuffer's S_FALSE ends the stream with end-of-stream.
// Pins live as long as their filter.
class CSourceStream {
  public:
    // How long a stop waits for a stream that ends by itself (see endsByItself).
    static constexpr std::chrono::milliseconds kEndWait{1000};

    // Adds itself to `filter`'s pins. The streaming thread is called `threadName`.
    CSourceStream(CSource* filter, std::string name, std::string threadName);
    virtual ~CSourceStream();
    CSourceStream(const CSourceStream&) = delete;
    CSourceStream& operator=(const CSourceStream&) = delete;

    const std::string& name() const { return name_; }
    SampleReceiver* ConnectedTo() const { return connected_; }
    bool IsConnected() const { return connected_ != nullptr; }
    const MediaType& connectionType() const { return mt_; }
    MemAllocator* allocator() const { return allocator_.get(); }

    // Tries `type` if given, else this pin's types in order: the first that this pin
    // checks, the buffers fit and the receiver takes is the connection.
    HRESULT Connect(SampleReceiver* receiver, const MediaType* type);
    void Disconnect();

    virtual HRESULT CheckMediaType(const MediaType* type) = 0;
    // The types this pin offers, from position 0; VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int32_t position, MediaType* type) = 0;
    virtual HRESULT SetMediaType(const MediaType* type);
    // Sets the allocator's properties; `properties` holds the receiver's wishes.
    virtual HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;

    // State changes of the filter: the buffers are there while it is paused or running.
    // Active starts the thread and returns once it has started play, so that nothing
    // the caller does afterwards is undone by OnThreadStartPlay.
    HRESULT Active();
    // Ends the thread: a stream that ends by itself is given kEndWait to deliver
    // what it holds first.
    HRESULT Inactive();
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

    BaseFilter* filter_;
    std::recursive_mutex* lock_; // the filter's state lock
    std::string name_;
    SampleReceiver* connected_ = nullptr;
    MediaType mt_;
    std::shared_ptr<MemAllocator> allocator_;

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
