// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaSample.h"
#include "record/MemAllocator.h"

namespace tavrin::record {

// Where an output pin's samples go: the recording sink's input for one stream. The
// pin's own allocator is the only one; a receiver uses the samples it is handed and
// keeps none of them.
class SampleReceiver {
  public:
    virtual ~SampleReceiver() = default;
    // What the receiver needs of the pin's buffers; E_NOTIMPL when nothing in particular.
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }
    // Takes the stream of that type, or refuses it (VFW_E_TYPE_NOT_ACCEPTED).
    virtual HRESULT ReceiveConnection(const MediaType& type) = 0;
    // A filled sample, on the pin's thread; anything but S_OK ends the stream.
    virtual HRESULT Receive(MediaSample* sample) = 0;
    virtual HRESULT EndOfStream() = 0;
};

} // namespace tavrin::record
