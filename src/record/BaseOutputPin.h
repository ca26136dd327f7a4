// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseInputPin.h"
#include "record/BasePin.h"
#include "record/MemAllocator.h"

#include <memory>

namespace tavrin::record {

// The sending end of a connection: agrees a media type and an allocator with
// the input pin, then hands it filled samples.
class BaseOutputPin : public BasePin {
  public:
    BaseOutputPin(BaseFilter* filter, std::recursive_mutex* lock, std::string name);

    // Tries `type` if given, else this pin's types, then the input pin's.
    HRESULT Connect(BaseInputPin* receivePin, const MediaType* type);
    // Sets the allocator's properties; `properties` holds the input pin's wishes.
    virtual HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;

    HRESULT GetDeliveryBuffer(SamplePtr* sample);
    HRESULT Deliver(MediaSample* sample);
    HRESULT DeliverEndOfStream();

    HRESULT CompleteConnect(BasePin* receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    BaseInputPin* inputPin() const { return inputPin_; }
    MemAllocator* allocator() const { return allocator_.get(); }

  protected:
    HRESULT AttemptConnection(BaseInputPin* receivePin, const MediaType& type);
    HRESULT DecideAllocator(BaseInputPin* receivePin);

    std::shared_ptr<MemAllocator> allocator_;
    BaseInputPin* inputPin_ = nullptr;
};

} // namespace tavrin::record
