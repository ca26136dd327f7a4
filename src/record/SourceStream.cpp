// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/SourceStream.h"

#include "record/MediaInterfaces.h"

#include <algorithm>
#include <thread>

namespace tavrin::record {

CSourceStream::CSourceStream(CSource* filter, std::string name, std::string threadName)
    : filter_(filter), lock_(filter->pStateLock()), name_(std::move(name)),
      threadName_(std::move(threadName)) {
    filter->pins_.push_back(this);
}

CSourceStream::~CSourceStream() {
    Inactive();
    std::erase(filter_->pins_, this);
}

HRESULT CSourceStream::SetMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    mt_ = *type;
    return S_OK;
}

HRESULT CSourceStream::Connect(SampleReceiver* receiver, const MediaType* type) {
    if (!receiver)
        return E_POINTER;
    std::lock_guard lk(*lock_);
    if (connected_)
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped())
        return VFW_E_NOT_STOPPED;
    auto attempt = [&](const MediaType& candidate) -> HRESULT {
        if (CheckMediaType(&candidate) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
        HRESULT hr = SetMediaType(&candidate);
        ALLOCATOR_PROPERTIES props{};
        receiver->GetAllocatorRequirements(&props);
        props.cbAlign = std::max(props.cbAlign, 1);
        auto allocator = std::make_shared<MemAllocator>();
        if (SUCCEEDED(hr))
            hr = DecideBufferSize(allocator.get(), &props);
        if (SUCCEEDED(hr))
            hr = receiver->ReceiveConnection(mt_);
        if (FAILED(hr)) {
            mt_ = MediaType{};
            return hr;
        }
        allocator_ = std::move(allocator);
        connected_ = receiver;
        return S_OK;
    };
    if (type)
        return attempt(*type);
    MediaType candidate;
    for (int32_t i = 0; GetMediaType(i, &candidate) == S_OK; ++i)
        if (SUCCEEDED(attempt(candidate)))
            return S_OK;
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

void CSourceStream::Disconnect() {
    std::lock_guard lk(*lock_);
    if (allocator_)
        allocator_->Decommit();
    allocator_.reset();
    connected_ = nullptr;
    mt_ = MediaType{};
}

HRESULT CSourceStream::Active() {
    std::lock_guard lk(*lock_);
    if (!IsConnected())
        return S_OK;
    if (worker_.started())
        return S_FALSE;
    HRESULT hr = allocator_->Commit();
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
        allocator_->Decommit();
        return E_FAIL;
    }
    std::unique_lock state(mutex_);
    changed_.wait(state, [&] { return playing_ || loopEnded_; });
    hr = startResult_;
    state.unlock();
    if (FAILED(hr)) {
        worker_.stop(std::chrono::seconds(5));
        allocator_->Decommit();
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
    HRESULT hr = allocator_->Decommit();
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
            filter_->NotifyEvent(EC_ERRORABORT, base::Error::status(hr, "The video source failed."));
        return;
    }
}

} // namespace tavrin::record
