// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/SampleReceiver.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin::testing {

// A recording sink's input that accepts whatever a pin offers of one major type and
// remembers each sample it receives.
class FakeReceiver : public record::SampleReceiver {
  public:
    struct Received {
        record::REFERENCE_TIME start = 0;
        record::REFERENCE_TIME end = 0;
        bool sync = false;
        std::vector<uint8_t> bytes;
    };

    explicit FakeReceiver(record::GUID major = record::MEDIATYPE_Video) : acceptMajor(major) {}

    record::HRESULT ReceiveConnection(const record::MediaType& type) override {
        return type.majortype == acceptMajor ? record::S_OK : record::VFW_E_TYPE_NOT_ACCEPTED;
    }
    record::HRESULT GetAllocatorRequirements(record::ALLOCATOR_PROPERTIES* p) override {
        if (requirements.cBuffers == 0)
            return record::E_NOTIMPL;
        *p = requirements;
        return record::S_OK;
    }
    record::HRESULT Receive(record::MediaSample* sample) override {
        std::this_thread::sleep_for(delay);
        Received r;
        sample->GetTime(&r.start, &r.end);
        r.sync = sample->IsSyncPoint();
        uint8_t* p = nullptr;
        sample->GetPointer(&p);
        r.bytes.assign(p, p + sample->GetActualDataLength());
        std::lock_guard lk(mutex_);
        samples_.push_back(std::move(r));
        cv_.notify_all();
        return receiveResult;
    }
    record::HRESULT EndOfStream() override {
        std::lock_guard lk(mutex_);
        ++endOfStream_;
        cv_.notify_all();
        return record::S_OK;
    }

    std::vector<Received> samples() const {
        std::lock_guard lk(mutex_);
        return samples_;
    }
    int endOfStreamCount() const {
        std::lock_guard lk(mutex_);
        return endOfStream_;
    }
    bool waitForSamples(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock lk(mutex_);
        return cv_.wait_for(lk, limit, [&] { return samples_.size() >= n; });
    }
    bool waitForEndOfStream(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock lk(mutex_);
        return cv_.wait_for(lk, limit, [&] { return endOfStream_ > 0; });
    }

    record::GUID acceptMajor;
    record::ALLOCATOR_PROPERTIES requirements{};
    record::HRESULT receiveResult = record::S_OK;
    std::chrono::milliseconds delay{0}; // per sample: a slow encoder

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Received> samples_;
    int endOfStream_ = 0;
};

} // namespace tavrin::testing
