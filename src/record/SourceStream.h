// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "record/BaseOutputPin.h"
#include "record/MediaSample.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

namespace tavrin::record {

class CSource;

// An output pin with a streaming thread of its own. While the filter is paused or
// running the thread asks FillBuffer for sample after sample and delivers them;
// FillBuffer's S_FALSE ends the stream with end-of-stream.
class CSourceStream : public BaseOutputPin {
  public:
    enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };

    // Adds itself to `filter`'s pins; the destructor removes it again. The streaming
    // thread is called `threadName` ("tavrin-video", ...).
    CSourceStream(CSource* filter, std::string name, std::string threadName = "tavrin-stream");
    ~CSourceStream() override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    bool ThreadExists() const { return worker_.started(); }

  protected:
    // Thread side, all called on the streaming thread.
    virtual HRESULT FillBuffer(MediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    virtual HRESULT DoBufferProcessingLoop();

    // Caller side: hands a command to the thread and waits for its reply.
    HRESULT CallWorker(Command command);
    Command GetRequest();
    bool CheckRequest(Command* command);
    void Reply(HRESULT result);

    CSource* source_;

  private:
    void ThreadProc();
    // Waits for the streaming thread after CMD_EXIT (it has replied; only its ending is left).
    void JoinThread();

    std::string threadName_;
    base::Worker worker_;
    std::mutex callLock_; // one caller at a time
    std::mutex commandMutex_;
    std::condition_variable commandReady_;
    std::condition_variable replyReady_;
    std::optional<Command> pending_;
    bool replied_ = false;
    HRESULT replyValue_ = S_OK;
};

} // namespace tavrin::record
