// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/BaseInputPin.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace tavrin::testing {

// A downstream filter with one input pin that accepts whatever a filter offers of
// one major type and remembers each sample it receives.
class FakeSinkFilter : public record::BaseFilter {
  public:
    struct Received {
        record::REFERENCE_TIME start = 0;
        record::REFERENCE_TIME end = 0;
        bool sync = false;
        std::vector<uint8_t> bytes;
    };

    class Pin : public record::BaseInputPin {
      public:
        Pin(FakeSinkFilter* owner) : BaseInputPin(owner, &owner->lock, "In"), owner_(owner) {}
        record::HRESULT CheckMediaType(const record::MediaType* type) override {
            return type->majortype == owner_->acceptMajor ? record::S_OK : record::VFW_E_TYPE_NOT_ACCEPTED;
        }
        record::HRESULT GetAllocatorRequirements(record::ALLOCATOR_PROPERTIES* p) override {
            if (owner_->requirements.cBuffers == 0)
                return record::E_NOTIMPL;
            *p = owner_->requirements;
            return record::S_OK;
        }
        record::HRESULT Receive(record::MediaSample* sample) override {
            record::HRESULT hr = BaseInputPin::Receive(sample);
            if (hr != record::S_OK)
                return hr;
            Received r;
            sample->GetTime(&r.start, &r.end);
            r.sync = sample->IsSyncPoint();
            uint8_t* p = nullptr;
            sample->GetPointer(&p);
            r.bytes.assign(p, p + sample->GetActualDataLength());
            std::lock_guard lk(owner_->mutex_);
            owner_->samples_.push_back(std::move(r));
            owner_->cv_.notify_all();
            return owner_->receiveResult;
        }
        record::HRESULT EndOfStream() override {
            std::lock_guard lk(owner_->mutex_);
            ++owner_->endOfStream_;
            owner_->cv_.notify_all();
            return record::S_OK;
        }

      private:
        FakeSinkFilter* owner_;
    };

    explicit FakeSinkFilter(record::GUID major = record::MEDIATYPE_Video)
        : BaseFilter(record::GUID{0x5157u, 1, 1, {}}, &lock), acceptMajor(major), pin(this) {}

    int GetPinCount() override { return 1; }
    record::BasePin* GetPin(int n) override { return n == 0 ? &pin : nullptr; }

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

    std::recursive_mutex lock;
    record::GUID acceptMajor;
    record::ALLOCATOR_PROPERTIES requirements{};
    record::HRESULT receiveResult = record::S_OK;
    Pin pin;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Received> samples_;
    int endOfStream_ = 0;
};

} // namespace tavrin::testing
