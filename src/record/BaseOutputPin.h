// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"
#include "record/MemAllocator.h"
#include "record/SampleReceiver.h"

#include <memory>
#include <mutex>
#include <string>

namespace tavrin::record {

class BaseFilter;

// An output pin: agrees a media type and its buffers with the receiver of its
// samples, and owns the one allocator between them. Pins live as long as their filter.
class BaseOutputPin {
  public:
    BaseOutputPin(BaseFilter* filter, std::string name);
    virtual ~BaseOutputPin() = default;
    BaseOutputPin(const BaseOutputPin&) = delete;
    BaseOutputPin& operator=(const BaseOutputPin&) = delete;

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
    virtual HRESULT Active();
    virtual HRESULT Inactive();

  protected:
    BaseFilter* filter_;
    std::recursive_mutex* lock_; // the filter's state lock
    std::string name_;
    SampleReceiver* connected_ = nullptr;
    MediaType mt_;
    std::shared_ptr<MemAllocator> allocator_;
};

} // namespace tavrin::record
