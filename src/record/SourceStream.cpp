// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/SourceStream.h"

#include "record/MediaInterfaces.h"

#include <thread>

namespace tavrin::record {

CSourceStream::CSourceStream(CSource* filter, std::string name, std::string threadName)
    : BaseOutputPin(filter, std::move(name)), threadName_(std::move(threadName)) {
    filter->pins_.push_back(this);
}

CSourceStream::~CSourceStream() {
    Inactive();
    std::erase(filter_->pins_, this);
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
    {
        std::lock_guard state(mutex_);
        playing_ = loopEnded_ = false;
        startResult_ = S_OK;
    }
    stopping_.store(false);
    if (!worker_.start(
            threadName_, [this](const base::WorkerControl& c) { ThreadProc(c); },
            [this] { changed_.notify_all(); })) {
        BaseOutputPin::Inactive();
        return E_FAIL;
    }
    std::unique_lock state(mutex_);
    changed_.wait(state, [&] { return playing_ || loopEnded_; });
    hr = startResult_;
    state.unlock();
    if (FAILED(hr)) {
        worker_.stop(std::chrono::seconds(5));
        BaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT CSourceStream::Inactive() {
    std::lock_guard lk(*lock_);
    if (!IsConnected() || !worker_.started())
        return S_OK;
    if (endsByItself()) {
        // Its end marker is queued behind what it still holds: all of that reaches the
        // receiver first, within a bounded wait.
        std::unique_lock state(mutex_);
        changed_.wait_for(state, kEndWait, [&] { return loopEnded_; });
    }
    stopping_.store(true);
    // Decommitting wakes a thread that waits for a free buffer.
    HRESULT hr = BaseOutputPin::Inactive();
    worker_.stop(std::chrono::seconds(5));
    return hr;
}

void CSourceStream::ThreadProc(const base::WorkerControl& control) {
    HRESULT hr = OnThreadCreate();
    if (SUCCEEDED(hr))
        OnThreadStartPlay();
    {
        std::lock_guard state(mutex_);
        startResult_ = hr;
        playing_ = SUCCEEDED(hr);
        loopEnded_ = FAILED(hr);
    }
    changed_.notify_all();
    if (SUCCEEDED(hr)) {
        DoBufferProcessingLoop();
        {
            std::lock_guard state(mutex_);
            loopEnded_ = true;
        }
        changed_.notify_all();
        while (control.pause(std::chrono::seconds(60))) {
        }
    }
    OnThreadDestroy();
}

void CSourceStream::DoBufferProcessingLoop() {
    while (!stopping_.load()) {
        SamplePtr sample;
        if (FAILED(allocator_->GetBuffer(&sample))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const HRESULT hr = FillBuffer(sample.get());
        if (hr == S_OK) {
            const HRESULT received = connected_->Receive(sample.get());
            sample.reset();
            if (received != S_OK)
                return; // the receiver refused: it has reported why
            continue;
        }
        sample.reset();
        connected_->EndOfStream();
        if (hr != S_FALSE)
            filter_->NotifyEvent(EC_ERRORABORT, {hr, "The video source failed."});
        return;
    }
}

} // namespace tavrin::record
