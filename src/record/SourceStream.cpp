// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/SourceStream.h"

#include "record/MediaInterfaces.h"
#include "record/Source.h"

#include <chrono>
#include <thread>

namespace tavrin::record {

CSourceStream::CSourceStream(CSource* filter, std::string name, std::string threadName)
    : BaseOutputPin(filter, filter->pStateLock(), std::move(name)), source_(filter),
      threadName_(std::move(threadName)) {
    filter->AddPin(this);
}

CSourceStream::~CSourceStream() {
    if (worker_.started()) {
        CallWorker(CMD_EXIT);
        JoinThread();
    }
    source_->RemovePin(this);
}

void CSourceStream::JoinThread() {
    // The thread has answered CMD_EXIT and only tidies up: a join that runs out names it.
    worker_.join(std::chrono::seconds(5));
}

HRESULT CSourceStream::Active() {
    std::lock_guard lk(*lock_);
    if (!IsConnected())
        return S_OK;
    if (worker_.started())
        return S_FALSE;
    HRESULT hr = BaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!worker_.start(threadName_, [this](const base::WorkerControl&) { ThreadProc(); })) {
        BaseOutputPin::Inactive();
        return E_FAIL;
    }
    hr = CallWorker(CMD_INIT);
    if (FAILED(hr)) {
        JoinThread();
        BaseOutputPin::Inactive();
        return hr;
    }
    return CallWorker(CMD_PAUSE);
}

HRESULT CSourceStream::Inactive() {
    std::lock_guard lk(*lock_);
    if (!IsConnected())
        return S_OK;
    // Decommitting first wakes a thread that waits for a free buffer.
    HRESULT hr = BaseOutputPin::Inactive();
    if (worker_.started()) {
        CallWorker(CMD_STOP);
        CallWorker(CMD_EXIT);
        JoinThread();
    }
    return hr;
}

HRESULT CSourceStream::CallWorker(Command command) {
    std::lock_guard call(callLock_);
    std::unique_lock lk(commandMutex_);
    pending_ = command;
    replied_ = false;
    commandReady_.notify_all();
    replyReady_.wait(lk, [&] { return replied_; });
    return replyValue_;
}

CSourceStream::Command CSourceStream::GetRequest() {
    std::unique_lock lk(commandMutex_);
    commandReady_.wait(lk, [&] { return pending_.has_value(); });
    return *pending_;
}

bool CSourceStream::CheckRequest(Command* command) {
    std::lock_guard lk(commandMutex_);
    if (!pending_)
        return false;
    *command = *pending_;
    return true;
}

void CSourceStream::Reply(HRESULT result) {
    std::lock_guard lk(commandMutex_);
    pending_.reset();
    replied_ = true;
    replyValue_ = result;
    replyReady_.notify_all();
}

void CSourceStream::ThreadProc() {
    Command command;
    do {
        command = GetRequest();
        if (command != CMD_INIT)
            Reply(E_UNEXPECTED);
    } while (command != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(hr);
        return;
    }
    Reply(S_OK);

    do {
        command = GetRequest();
        switch (command) {
        case CMD_RUN:
        case CMD_PAUSE:
            // The loop replies once the play start is done, so nothing the caller does
            // after Pause returns can be undone by it.
            DoBufferProcessingLoop();
            break;
        case CMD_EXIT:
        case CMD_STOP:
            Reply(S_OK);
            break;
        default:
            Reply(E_NOTIMPL);
            break;
        }
    } while (command != CMD_EXIT);

    OnThreadDestroy();
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Reply(S_OK);

    Command command;
    do {
        while (!CheckRequest(&command)) {
            SamplePtr sample;
            HRESULT hr = GetDeliveryBuffer(&sample);
            if (FAILED(hr)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            hr = FillBuffer(sample.get());
            if (hr == S_OK) {
                hr = connected_->Receive(sample.get());
                sample.reset();
                if (hr != S_OK)
                    return S_OK; // the receiver refused: it has reported why
            } else if (hr == S_FALSE) {
                sample.reset();
                connected_->EndOfStream();
                return S_OK;
            } else {
                sample.reset();
                connected_->EndOfStream();
                filter_->NotifyEvent(EC_ERRORABORT, hr, "The video source failed.");
                return hr;
            }
        }
        if (command == CMD_RUN || command == CMD_PAUSE) {
            Reply(S_OK);
        } else if (command != CMD_STOP && command != CMD_EXIT) {
            Reply(E_UNEXPECTED);
        }
        // Stop and exit are answered by ThreadProc once the loop has ended.
    } while (command != CMD_STOP && command != CMD_EXIT);
    return S_FALSE;
}

} // namespace tavrin::record
