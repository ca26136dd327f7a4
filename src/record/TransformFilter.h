// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/BaseInputPin.h"
#include "record/BaseOutputPin.h"

#include <memory>
#include <mutex>

namespace tavrin::record {

class TransformFilter;

class TransformInputPin : public BaseInputPin {
  public:
    TransformInputPin(TransformFilter* filter, std::recursive_mutex* lock);
    HRESULT CheckMediaType(const MediaType* type) override;
    HRESULT Receive(MediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT CompleteConnect(BasePin* receivePin) override;
    HRESULT BreakConnect() override;

  private:
    TransformFilter* transform_;
};

class TransformOutputPin : public BaseOutputPin {
  public:
    TransformOutputPin(TransformFilter* filter, std::recursive_mutex* lock);
    HRESULT CheckMediaType(const MediaType* type) override;
    HRESULT GetMediaType(int32_t position, MediaType* type) override;
    HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
    HRESULT CompleteConnect(BasePin* receivePin) override;
    HRESULT BreakConnect() override;

  private:
    TransformFilter* transform_;
};

// A filter with one input and one output pin that turns each input sample into
// zero or more output samples on the upstream filter's thread (compressors).
class TransformFilter : public BaseFilter {
  public:
    explicit TransformFilter(const GUID& clsid);
    ~TransformFilter() override;

    int GetPinCount() override { return 2; }
    BasePin* GetPin(int n) override;

    HRESULT Stop() override;
    HRESULT Pause() override;

    // What a derived filter decides.
    virtual HRESULT CheckInputType(const MediaType* in) = 0;
    virtual HRESULT CheckTransform(const MediaType* in, const MediaType* out) = 0;
    // The output types for the connected input type.
    virtual HRESULT GetOutputType(int32_t position, MediaType* type) = 0;
    virtual HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;
    // Called with the receive lock held; delivers through output().
    virtual HRESULT Transform(MediaSample* in) = 0;
    // Called with the receive lock held; the default passes end-of-stream on.
    virtual HRESULT EndOfStream();
    // Around a run; StopStreaming is called before the pins go inactive, with the receive lock held.
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION, BasePin*) { return S_OK; }
    virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }

    TransformInputPin& input() { return input_; }
    TransformOutputPin& output() { return *output_; }

  protected:
    friend class TransformInputPin;
    // For filters whose output pin answers more interfaces; called from their constructor.
    void replaceOutputPin(std::unique_ptr<TransformOutputPin> pin) { output_ = std::move(pin); }

    std::recursive_mutex filterLock_;
    std::mutex receiveLock_;
    TransformInputPin input_;
    std::unique_ptr<TransformOutputPin> output_;
    bool streaming_ = false;
};

} // namespace tavrin::record
