// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BasePin.h"
#include "record/MediaSample.h"
#include "record/MemAllocator.h"

#include <memory>

namespace tavrin::record {

// The receiving end of a connection. Samples arrive on the sender's thread.
class BaseInputPin : public BasePin {
  public:
    BaseInputPin(BaseFilter* filter, std::recursive_mutex* lock, std::string name);

    // Called by the output pin that connects to this one.
    virtual HRESULT ReceiveConnection(BasePin* connector, const MediaType* type);
    // Base check: a stopped filter takes no samples.
    virtual HRESULT Receive(MediaSample* sample);
    virtual HRESULT EndOfStream();

    // Buffer negotiation: what this pin needs, the allocator it offers, the one agreed.
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties);
    virtual std::shared_ptr<MemAllocator> GetAllocator();
    virtual HRESULT NotifyAllocator(std::shared_ptr<MemAllocator> allocator, bool readOnly);

    HRESULT BreakConnect() override;

  protected:
    std::shared_ptr<MemAllocator> allocator_;
};

} // namespace tavrin::record
